// `tovalink explain` as a process: goods files in both layouts and both
// separator conventions against the worked record's bytes, keyboard files
// good and broken, and the store's values taken without writing a thing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "decode/bytes.h"
#include "scale/worked_record.h"
#include "testutil.h"

namespace tv {
namespace {

std::string Pad(std::string s, size_t n) {
  s.resize(n, ' ');
  return s;
}

// The worked record in the fixed layout: 132 characters after the code.
std::string FixedWorkedLine() {
  return Pad("123456789012", 12) + Pad("000000000000123", 15) + "r1r1r2r2" + "00" +
         Pad("    1.50", 8) + Pad("  5", 3) + "r3r3" + Pad("Apple", 80);
}

std::string WorkedHex() {
  return decode::Hex(test::kWorkedRecordFrame.data(), test::kWorkedRecordFrame.size());
}

// The values the worked record was encoded with, on top of the defaults.
const std::vector<std::string> kWorkedValues = {"--set", "LabelWidth=30", "--set",
                                                "SMessFontSize=2"};

class ExplainTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args, std::string& out) {
    args.insert(args.begin(), test::TovalinkBinary());
    return test::RunBinary(args, {"TOVALINK_HOME=" + home.Path()}, out);
  }
  int Explain(const std::string& name, const std::string& content, std::vector<std::string> options,
              std::string& out) {
    const std::string path = files / name;
    std::ofstream(path, std::ios::binary) << content;
    options.insert(options.begin(), {"explain", path});
    return Run(options, out);
  }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
  static std::vector<std::string> With(std::vector<std::string> a,
                                       const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }

  test::TempDir home;
  test::TempDir files;
};

TEST_F(ExplainTest, FixedLayoutListsTheShortALineAsSkippedAndDecodesTheWorkedRecord) {
  const std::string shortLine = FixedWorkedLine().substr(0, 131);
  const std::string file =
      "D000777\r\nA" + FixedWorkedLine() + "\r\nA" + shortLine + "\r\nT202403050907\r\n";
  std::string out;
  ASSERT_EQ(Explain("prices.txt", file, With({"--import-type", "0"}, kWorkedValues), out), 2)
      << out;
  EXPECT_TRUE(Has(out, "line    1  D    accepted -> frame 1\n")) << out;
  EXPECT_TRUE(Has(out, "line    2  A    accepted -> frame 2\n")) << out;
  EXPECT_TRUE(
      Has(out, "line    3  A    skipped: A line of 132 characters, the fixed layout needs 133\n"))
      << out;
  EXPECT_TRUE(Has(out, "line    4  T    accepted -> frame 3\n")) << out;
  EXPECT_TRUE(Has(out, "4 lines: 3 accepted, 1 skipped; 3 frames\n")) << out;
  // Field by field, each with its bytes.
  EXPECT_TRUE(Has(out, "frame 2: goods record, 44 bytes (line 2)\n")) << out;
  EXPECT_TRUE(Has(out, "00 00 01 23     ")) << out;
  EXPECT_TRUE(Has(out, "  goods number: 123\n")) << out;
  EXPECT_TRUE(Has(out, "  price: 1.50\n")) << out;
  EXPECT_TRUE(Has(out, "  date (day, month, year): 05.03.24\n")) << out;
  EXPECT_TRUE(Has(out, "name line, font 9: \"Apple\" FF\n")) << out;

  ASSERT_EQ(Explain("prices.txt", file, With({"--import-type", "0", "--json"}, kWorkedValues), out),
            2)
      << out;
  EXPECT_TRUE(Has(out, "\"hex\":\"" + WorkedHex() + "\"")) << out;
  EXPECT_TRUE(Has(
      out,
      "{\"line\":3,\"code\":\"A\",\"status\":\"skipped\",\"reason\":\"A line of 132 characters"))
      << out;
  EXPECT_TRUE(Has(out, "\"accepted\":3,\"skipped\":1")) << out;
  EXPECT_FALSE(std::filesystem::exists(home / "registry.db")) << "explaining writes no store";
}

TEST_F(ExplainTest, DelimitedFilesGiveTheWorkedRecordUnderEitherSeparatorConvention) {
  std::string semicolons = "A" + test::kWorkedRecordLine + "\r\n";
  semicolons.replace(semicolons.find("1.50"), 4, "1,50");
  std::string commas = "A" + test::kWorkedRecordLine + "\r\n";
  for (char& c : commas) c = c == ';' ? ',' : c;

  std::string out;
  ASSERT_EQ(Explain("semi.txt", semicolons,
                    With({"--json", "--import-type", "1", "--locale-decimal-separator", ","},
                         kWorkedValues),
                    out),
            0)
      << out;
  EXPECT_TRUE(Has(out, "\"hex\":\"" + WorkedHex() + "\"")) << out;
  EXPECT_TRUE(Has(out, "\"localeListSeparator\":\";\",\"localeDecimalSeparator\":\",\"")) << out;

  ASSERT_EQ(Explain("comma.txt", commas,
                    With({"--json", "--import-type", "1", "--locale-decimal-separator", "."},
                         kWorkedValues),
                    out),
            0)
      << out;
  EXPECT_TRUE(Has(out, "\"hex\":\"" + WorkedHex() + "\"")) << out;

  // Read under the other convention the line has no field it needs.
  ASSERT_EQ(Explain("semi.txt", semicolons,
                    {"--import-type", "1", "--locale-decimal-separator", "."}, out),
            2)
      << out;
  EXPECT_TRUE(Has(
      out,
      "line    1  A    skipped: A line whose fields cannot be read: layout 1B: no separator after "
      "the barcode field\n"))
      << out;
  EXPECT_TRUE(
      Has(out,
          "note: the service would send nothing and move the file to Rejected (code 6): none of "
          "its 1 A line can be read, nothing is sent: the lines look ';'-separated, ImportType 1 "
          "splits at ','\n"))
      << out;
}

TEST_F(ExplainTest, TakesTheStoresValuesAndScaleUnlessTheCommandLineSaysOtherwise) {
  std::string out;
  const std::string key = "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+";
  ASSERT_EQ(Run({"scale", "remove", "91"}, out), 0) << out;
  ASSERT_EQ(Run({"scale", "add", "4", "--type", "BigPlatform", "--barcode-type", "7"}, out), 0)
      << out;
  ASSERT_EQ(Run({"reg", "add", key, "/v", "BarPrefix", "/d", "29", "/f"}, out), 0) << out;
  ASSERT_EQ(Run({"reg", "add", key, "/v", "ImportType", "/t", "REG_DWORD", "/d", "1", "/f"}, out),
            0)
      << out;
  const std::string file = "A;9912345;000123;x;x;0;0;1.50;5;x;Apple\r\n";

  ASSERT_EQ(Explain("p.txt", file, {"--locale-list-separator", ";"}, out), 0) << out;
  EXPECT_TRUE(Has(out, "values: store " + home / "registry.db" + "\n")) << out;
  EXPECT_TRUE(Has(out, "scale 4, the first in the list: BigPlatform, barcode type 7")) << out;
  EXPECT_TRUE(Has(out, "barcode: 29123450000001\n")) << "BigPlatform puts BarPrefix first: " << out;
  EXPECT_TRUE(Has(out, "barcode type: 7\n")) << out;

  ASSERT_EQ(
      Explain("p.txt", file,
              {"--locale-list-separator", ";", "--scale-type", "Bench", "--barcode-type", "5"},
              out),
      0)
      << out;
  EXPECT_TRUE(Has(out, "barcode: 99123450000001\n")) << out;

  EXPECT_EQ(Explain("p.txt", file, {"--scale", "9"}, out), 1);
  EXPECT_TRUE(Has(out, "scale 9 is not in the scale list")) << out;
  EXPECT_EQ(Explain("p.txt", file, {"--set", "LabelWidht=30"}, out), 1);
  EXPECT_TRUE(Has(out, "did you mean 'LabelWidth'?")) << out;
  EXPECT_EQ(Run({"explain", files / "missing.txt"}, out), 1) << out;
}

std::string Keyboard(const std::string& keys) {
  return "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<xml_archive>\r\n <keyboard "
         "name=\"template\"/>\r\n"
         " <keyboard name=\"Fruit\">\r\n" +
         keys + " </keyboard>\r\n</xml_archive>\r\n";
}

std::string Key(const std::string& index, const std::string& text, const std::string& image) {
  return "  <key key_menu=\"true\" key_index=\"" + index + "\"><layer_text><text>" + text +
         "</text></layer_text><layer_image file_name=\"" + image + "\"/></key>\r\n";
}

TEST_F(ExplainTest, KeyboardFileRecordsAreListedAndDecoded) {
  std::string out;
  const std::string hidden = "  <key key_menu=\"false\" key_index=\"9\"/>\r\n";
  const std::string file =
      Keyboard(Key("15", "Pear", "pear.png") + hidden + Key("16", "Plum", "plum.png"));
  ASSERT_EQ(Run({"scale", "add", "2", "--type", "SM700"}, out), 0) << out;
  ASSERT_EQ(Explain("keys.xml", file, {}, out), 0) << out;
  EXPECT_TRUE(Has(out, "uploaded to SM700 scale 2 in turn")) << out;
  // A key left out of the menu is passed over, said so, and uses no number.
  EXPECT_TRUE(Has(out, "note: not uploaded: line 6: key whose key_menu is not \"true\"\n"))
      << out;
  EXPECT_TRUE(Has(out,
                  "keyboard 1, key 1: key_index 15, text \" Pear\", image pear.png (number 101) -> "
                  "frames 1-3\n"))
      << out;
  EXPECT_TRUE(Has(out,
                  "keyboard 1, key 2: key_index 16, text \" Plum\", image plum.png (number 102) -> "
                  "frames 4-6\n"))
      << out;
  EXPECT_TRUE(Has(out, "keyboard 1: keyboard record \"Pear\" -> frame 7\n")) << out;
  EXPECT_TRUE(Has(out, "frame 1: key record, 87 bytes (keyboard 1, key 1)\n")) << out;
  EXPECT_TRUE(Has(out, "frame 3: image record, 244 bytes (keyboard 1, key 1)\n")) << out;
  EXPECT_TRUE(Has(out, "image path: \"/opt/pcscale/files/img/plu/plum.png\"\n")) << out;
  EXPECT_TRUE(Has(out, "  record number: 10001\n")) << "the keyboard record's number: " << out;

  ASSERT_EQ(Explain("keys.xml", file, {"--json"}, out), 0) << out;
  EXPECT_TRUE(Has(out, "\"kind\":\"keyboard\"")) << out;
  EXPECT_TRUE(Has(out, "\"refused\":false")) << out;
  EXPECT_TRUE(Has(out, "\"decoded\":{\"command\":\"41\",\"kind\":\"key\",\"record\":1,")) << out;
}

TEST_F(ExplainTest, BrokenKeyboardFilesAreRefusedWithTheReason) {
  std::string out;
  EXPECT_EQ(Explain("keys.xml", Keyboard(Key("15", "Pear", "pear.png")).substr(0, 120), {}, out),
            2);
  EXPECT_TRUE(Has(out, ": not well-formed XML: ")) << out;
  EXPECT_TRUE(Has(out, "code 17, keyboard upload: keyboard file unreadable")) << out;

  EXPECT_EQ(Explain("keys.xml", Keyboard(Key("1x", "Pear", "pear.png")), {"--json"}, out), 2);
  EXPECT_TRUE(Has(out, "key_index \\\"1x\\\" is not a whole number")) << out;
  EXPECT_TRUE(Has(out, "\"refused\":true")) << out;
  EXPECT_TRUE(Has(out, "\"frames\":[]")) << out;

  EXPECT_EQ(Explain("keys.xml", "<root/>", {}, out), 2);
  EXPECT_TRUE(Has(out, "no root element xml_archive")) << out;
}

}  // namespace
}  // namespace tv
