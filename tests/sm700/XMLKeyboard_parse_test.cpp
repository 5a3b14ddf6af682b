#include "sm700/XMLKeyboard_parse.h"

#include <gtest/gtest.h>

#include <string>

namespace tv {
namespace {

// Windows-1251 texts.
const std::string kFrukty = "\xD4\xF0\xF3\xEA\xF2\xFB";      // Фрукты
const std::string kOvoshchi = "\xCE\xE2\xEE\xF9\xE8";        // Овощи
const std::string kMoloko = "\xCC\xEE\xEB\xEE\xEA\xEE";      // Молоко

std::string Doc(const std::string& keyboards, const std::string& decl = "windows-1251") {
  return "<?xml version=\"1.0\" encoding=\"" + decl + "\"?>\n<xml_archive>\n"
         "<keyboard name=\"layout\"/>\n" + keyboards + "</xml_archive>\n";
}

std::string Keyboard(const std::string& name, const std::string& keys) {
  return "<keyboard name=\"" + name + "\">" + keys + "</keyboard>\n";
}

std::string Layers(std::initializer_list<std::string> lines) {
  std::string s;
  for (const std::string& l : lines) s += "<layer_text><text>" + l + "</text></layer_text>";
  return s;
}

std::string Key(const std::string& index, const std::string& file = "img.png", const std::string& layers = "") {
  return "<key key_menu=\"true\" key_index=\"" + index + "\">" + layers + "<layer_image file_name=\"" + file +
         "\"/></key>";
}

TKeyboardDocument Parsed(const std::string& xml) {
  TKeyboardDocument d;
  EXPECT_TRUE(d.Parse(xml));
  return d;
}

TEST(KeyboardWalk, SingleKeyboardElementGivesNothing) {
  EXPECT_TRUE(Parsed(Doc("")).Elements().empty());
}

TEST(KeyboardWalk, NameContainingThePreviousContinuesTheKeyboard) {
  auto d = Parsed(Doc(Keyboard(kFrukty, Key("1") + Key("2")) + Keyboard(kFrukty + " 2", Key("3"))));
  const auto& e = d.Elements();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_TRUE(e[0].sendKeyboard);
  EXPECT_EQ(e[0].keyboard.Number, 1);
  EXPECT_EQ(e[0].keyboard.Name, kFrukty);
  EXPECT_FALSE(e[1].sendKeyboard);
  ASSERT_EQ(e[1].keys.size(), 1u);
  EXPECT_EQ(e[1].keys[0].KeyboardNo, 1);
  EXPECT_EQ(e[1].keys[0].KeyNo, 3);
  EXPECT_EQ(e[1].keys[0].KeyIndex, 3);
}

TEST(KeyboardWalk, DifferentNamesMakeNumberedKeyboards) {
  auto d = Parsed(Doc(Keyboard(kFrukty, Key("1") + Key("2")) + Keyboard(kOvoshchi, Key("7"))));
  const auto& e = d.Elements();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].keyboard.Number, 1);
  EXPECT_EQ(e[1].keyboard.Number, 2);
  EXPECT_EQ(e[1].keyboard.Name, kOvoshchi);
  EXPECT_TRUE(e[1].sendKeyboard);
  ASSERT_EQ(e[1].keys.size(), 1u);
  EXPECT_EQ(e[1].keys[0].KeyboardNo, 2);
  EXPECT_EQ(e[1].keys[0].KeyNo, 1);
}

TEST(KeyboardWalk, ElementWithoutNameIsSkippedEmptyNameContinues) {
  auto d = Parsed(Doc(Keyboard(kFrukty, Key("1")) + "<keyboard>" + Key("2") + "</keyboard>" +
                      Keyboard("", Key("3"))));
  const auto& e = d.Elements();
  ASSERT_EQ(e.size(), 2u);
  ASSERT_EQ(e[1].keys.size(), 1u);
  EXPECT_EQ(e[1].keys[0].KeyIndex, 3);
  EXPECT_EQ(e[1].keys[0].KeyboardNo, 1);
  EXPECT_EQ(e[1].keys[0].KeyNo, 2);
  EXPECT_FALSE(e[1].sendKeyboard);
}

TEST(KeyboardWalk, KeyTextJoinsLayersEachAfterABlank) {
  auto d = Parsed(Doc(Keyboard(kFrukty, Key("1", "a.png", Layers({kMoloko, "3,2%"})) + Key("2") +
                                            Key("3", "c.png", "<layer_text/>" + Layers({"x"})))));
  const auto& keys = d.Elements().at(0).keys;
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].Text, " " + kMoloko + " 3,2%");
  EXPECT_EQ(keys[0].FileName, "a.png");
  EXPECT_EQ(keys[1].Text, " ");
  EXPECT_EQ(keys[2].Text, " x");
  // A new keyboard is named after its first key's first line.
  EXPECT_EQ(d.Elements()[0].keyboard.Name, kMoloko);
}

TEST(KeyboardWalk, TextContentIncludesNestedTextAndEntities) {
  auto d = Parsed(Doc(Keyboard(kFrukty, Key("1", "a.png", "<layer_text><text>A<b>&amp;B</b><![CDATA[<C>]]></text></layer_text>"))));
  EXPECT_EQ(d.Elements().at(0).keys.at(0).Text, " A&B<C>");
}

TEST(KeyboardWalk, SkippedKeysDoNotUseAKeyNumber) {
  std::string keys = "<key key_menu=\"false\" key_index=\"10\"><layer_image file_name=\"a\"/></key>"
                     "<key key_index=\"11\"><layer_image file_name=\"a\"/></key>"
                     "<key key_menu=\"true\"><layer_image file_name=\"a\"/></key>"
                     "<key key_menu=\"true\" key_index=\"12\"/>"
                     "<key key_menu=\"true\" key_index=\"13\"><layer_image/></key>"
                     "<key key_menu=\"True\" key_index=\"14\"><layer_image file_name=\"a\"/></key>" +
                     Key("15") + Key("16");
  auto d = Parsed(Doc(Keyboard(kFrukty, keys)));
  const auto& k = d.Elements().at(0).keys;
  ASSERT_EQ(k.size(), 2u);
  EXPECT_EQ(k[0].KeyIndex, 15);
  EXPECT_EQ(k[0].KeyNo, 1);
  EXPECT_EQ(k[1].KeyNo, 2);
}

TEST(KeyboardWalk, KeyboardWhoseKeysAreAllSkippedHasNoRecord) {
  auto d = Parsed(Doc(Keyboard(kFrukty, "<key key_menu=\"false\" key_index=\"1\"/>") + Keyboard(kOvoshchi, Key("2"))));
  const auto& e = d.Elements();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_FALSE(e[0].sendKeyboard);
  EXPECT_TRUE(e[1].sendKeyboard);
  EXPECT_EQ(e[1].keyboard.Number, 2);  // the skipped keyboard still took its number
}

TEST(KeyboardWalk, Windows1251BytesPassUnchangedWhateverTheDeclaration) {
  for (const char* decl : {"windows-1251", "UTF-8", "ISO-8859-1"}) {
    auto d = Parsed(Doc(Keyboard(kOvoshchi, Key("1", kMoloko + ".png")), decl));
    ASSERT_EQ(d.Elements().size(), 1u) << decl;
    EXPECT_EQ(d.Elements()[0].keyboard.Name, kOvoshchi) << decl;
    EXPECT_EQ(d.Elements()[0].keys.at(0).FileName, kMoloko + ".png") << decl;
  }
}

TEST(KeyboardWalk, NonIntegerKeyIndexOfASkippedKeyDoesNotMatter) {
  auto d = Parsed(Doc(Keyboard(kFrukty, "<key key_menu=\"false\" key_index=\"abc\"/>" + Key("+4"))));
  EXPECT_EQ(d.Elements().at(0).keys.at(0).KeyIndex, 4);
  // Read as StrToInt reads it: leading spaces are allowed, trailing ones not.
  EXPECT_EQ(Parsed(Doc(Keyboard(kFrukty, Key("  7")))).Elements().at(0).keys.at(0).KeyIndex, 7);
}

TEST(UnreadableKeyboardFile, IsRejectedAsAWhole) {
  const std::string tooLongName(10300, 'n');
  const std::string cases[] = {
      "",
      "<xml_archive><keyboard name=\"a\"></xml_archive>",  // not well-formed
      "<archive><keyboard/><keyboard name=\"a\">" + Key("1") + "</keyboard></archive>",
      "<xml_archive><keys/></xml_archive>",
      Doc(Keyboard(kFrukty, Key("1") + Key("x1"))),
      Doc(Keyboard(kFrukty, Key("1.5"))),
      Doc(Keyboard(kFrukty, Key("7 "))),
      Doc(Keyboard(kFrukty, Key("1") + "<key key_menu=\"true\" key_index=\"x\"/>")),
      Doc(Keyboard(kFrukty, Key(""))),
      Doc(Keyboard(kFrukty, Key("-1"))),
      Doc(Keyboard(kFrukty, Key("100000000"))),
      Doc(Keyboard(kFrukty, Key("99999999999999999999"))),
      Doc(Keyboard("", Key("1"))),  // a key before any keyboard was named
      Doc(Keyboard(kFrukty, Key("1", tooLongName))),
  };
  for (const std::string& xml : cases) {
    TKeyboardDocument d;
    EXPECT_FALSE(d.Parse(xml)) << xml.substr(0, 200);
    EXPECT_TRUE(d.Elements().empty());
  }
}

TEST(UnreadableKeyboardFile, LargestEncodableValuesAreAccepted) {
  TKeyboardDocument d;
  EXPECT_TRUE(d.Parse(Doc(Keyboard(kFrukty, Key("99999999", std::string(10208, 'n'))))));
}

}  // namespace
}  // namespace tv
