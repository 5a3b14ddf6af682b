// Goods lines of the three import types, goods texts, deletion entries and
// clock lines.
#include <gtest/gtest.h>

#include "scale/goodsencoder.h"
#include "scale/encoder_fixture.h"

namespace tv::test {
namespace {

class ImportLineTest : public ::testing::Test, public EncoderFixture {};

// Every field of a parsed line in one text, so that one expectation states
// the whole record: barcode|code|reserved 1|reserved 2|kind and alternative
// label flags|price|shelf life|reserved 3|use-by flag|name|extra
// text|label format, and "|extended" for an extended line.
std::string Fields(const TImportRecord& r) {
  return r.Barcode + '|' + r.Code + '|' + r.Reserved1 + '|' + r.Reserved2 + '|' + r.KindFlag +
         r.AltLabelFlag + '|' + r.Price + '|' + r.ShelfLife + '|' + r.Reserved3 + '|' +
         r.UseByFlag + '|' + r.Name + '|' + r.ExtraText + '|' + std::to_string(r.LabelFormat) +
         (r.Extended ? "|extended" : "");
}

std::string FixedLine(const std::string& barcode, const std::string& code, char kind, char alt,
                      const std::string& price, const std::string& days, const std::string& name) {
  auto pad = [](std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
  };
  return pad(barcode, 12) + pad(code, 15) + "r1r1" + "r2r2" + kind + alt + pad(price, 8) +
         pad(days, 3) + "r3r3" + pad(name, 80);
}

TEST_F(ImportLineTest, FixedWidthLine) {
  settings.ImportType = 0;
  auto c = Make();
  std::string line = FixedLine("2001234", "000000000000123", '1', '0', "    1.50", "  5", "Apple pie");
  ASSERT_EQ(line.size(), 132u);
  ASSERT_TRUE(c->ParseGoodsLine(line));
  EXPECT_EQ(Fields(c->ImportRecord()),
            "2001234     |000000000000123|r1r1|r2r2|10|    1.50|  5|r3r3||Apple pie||0");

  EXPECT_FALSE(c->ParseGoodsLine(line.substr(0, 131)));
  EXPECT_FALSE(c->ParseGoodsLine(line + " "));
  EXPECT_FALSE(c->ParseGoodsLine(FixedLine("1", "000000000000000", '0', '0', "1", "1", "A")));
  EXPECT_FALSE(c->ParseGoodsLine(FixedLine("1", "12x", '0', '0', "1", "1", "A")));
}

TEST_F(ImportLineTest, DelimitedLayout1A) {
  auto c = Make();
  ASSERT_TRUE(c->ParseGoodsLine(";2001234;000123;x;x;0;0;1.50;5;x;Apple"));
  const TImportRecord& r = c->ImportRecord();
  EXPECT_EQ(Fields(r), "2001234|000123|||00|1.50|5|||Apple||0");  // reserved fields skipped

  // Fields are trimmed and cut to their widths.
  ASSERT_TRUE(c->ParseGoodsLine("; 1234567890123 ; 0000000000001234 ;x;x; 1 ; 1 ; 12.50 ; 1234 ;x;Pear"));
  EXPECT_EQ(r.Barcode, "123456789012");
  EXPECT_EQ(r.Code, "000000000000123");
  EXPECT_EQ(r.KindFlag, '1');
  EXPECT_EQ(r.Price, "12.50");
  EXPECT_EQ(r.ShelfLife, "123");

  EXPECT_FALSE(c->ParseGoodsLine(";2001234;000123;x;x; ;0;1.50;5;x;Apple"));  // empty kind
  EXPECT_FALSE(c->ParseGoodsLine("2001234,000123,x,x,0,0,1.50,5,x,Apple;;;;;;;;;;"));
}

TEST_F(ImportLineTest, DelimitedLayout1B) {
  settings.DecimalSeparator = ',';
  auto c = Make();
  const TImportRecord& r = c->ImportRecord();
  ASSERT_TRUE(c->ParseGoodsLine(";000123;2001234;1,50;0;0;5;1;Apple"));
  EXPECT_EQ(Fields(r), "2001234|000123|||00|1.50|5||1|Apple||0");

  ASSERT_TRUE(c->ParseGoodsLine(";000123;2001234;1.50;0;0;5;Apple"));
  EXPECT_EQ(r.UseByFlag, "");
  EXPECT_EQ(r.Name, "Apple");

  // An eleventh separator in the name turns the 1A line into a 1B line.
  ASSERT_TRUE(c->ParseGoodsLine(";2001234;000123;x;x;0;0;1.50;5;x;Apple;pie"));
  EXPECT_EQ(r.Code, "2001234");
  EXPECT_EQ(r.Barcode, "000123");
  EXPECT_EQ(r.KindFlag, 'x');
  EXPECT_EQ(r.ShelfLife, "0");
  EXPECT_EQ(r.UseByFlag, "1");
  EXPECT_EQ(r.Name, "5;x;Apple;pie");

  EXPECT_FALSE(c->ParseGoodsLine(";000123;2001234;1.50;;0;5;Apple"));
  EXPECT_FALSE(c->ParseGoodsLine(";000123;2001234;1.50;0;0"));
  EXPECT_FALSE(c->ParseGoodsLine(""));
}

TEST_F(ImportLineTest, LayoutIsChosenByHostSeparatorsFieldsCutByClients) {
  host.listSeparator = ',';
  settings.ListSeparator = ';';
  auto c = Make();
  // Ten host separators (inside the name) select 1A; ";" cuts the fields.
  ASSERT_TRUE(c->ParseGoodsLine(";2001234;000123;x;x;0;0;1.50;5;x;A,B,C,D,E,F,G,H,I,J,K"));
  EXPECT_EQ(c->ImportRecord().Barcode, "2001234");
  EXPECT_EQ(c->ImportRecord().Name, "A,B,C,D,E,F,G,H,I,J,K");
}

TEST_F(ImportLineTest, ExtendedLineStoresTheGoodsText) {
  settings.ImportType = 2;
  auto c = Make();
  const TImportRecord& r = c->ImportRecord();
  ASSERT_TRUE(c->ParseGoodsLine(";2001234;000123;r1;r2;1;0;1.50;7;r3;extra;42;Apple;x;y;z"));
  EXPECT_EQ(Fields(r), "2001234|000123|r1|r2|10|1.50|7|r3||Apple|extra|42|extended");
  std::string text;
  ASSERT_TRUE(c->GoodsText("000123", text));
  EXPECT_EQ(text, "x\r\ny\r\nz\r\n");
  // The file's own table is only read: a second encoding starts from it.
  EXPECT_EQ(lists.iValues.Size(), 0u);
  // The loader has no segment terminator here: text found, lines empty.
  EXPECT_TRUE(c->LoadIngredientText("000123"));
  EXPECT_EQ(c->GoodsRecord().ingredientLines[0].text, "");

  // At most fifteen pieces; a new line for the Code replaces the text.
  std::string many;
  for (int i = 1; i <= 17; ++i) many += ";" + std::to_string(i);
  ASSERT_TRUE(c->ParseGoodsLine(";1;000123;;;0;0;1;1;;;x;Pear" + many));
  ASSERT_TRUE(c->GoodsText("000123", text));
  std::string expected;
  for (int i = 1; i <= 15; ++i) expected += std::to_string(i) + "\r\n";
  EXPECT_EQ(text, expected);

  // A name with nothing after it leaves the table alone; a bad number reads 0.
  ASSERT_TRUE(c->ParseGoodsLine(";1;000777;;;0;0;1;1;;;lf;Plum"));
  EXPECT_EQ(r.Name, "Plum");
  EXPECT_EQ(r.LabelFormat, 0);
  EXPECT_FALSE(c->GoodsText("000777", text));

  EXPECT_FALSE(c->ParseGoodsLine(";1;000123;;;0;0;1;1;;"));
  EXPECT_FALSE(c->ParseGoodsLine(";1;000123;;;;0;1;1;;;1;A"));
}

TEST_F(ImportLineTest, IngredientSegmentsByImportType) {
  settings.ImportType = 0;
  lists.iValues.Set("000000000000123", std::string("Flour\x03Sugar\x03Salt"));
  auto c = Make();
  auto& lines = c->GoodsRecord().ingredientLines;
  ASSERT_TRUE(c->LoadIngredientText("000000000000123"));
  EXPECT_EQ(lines[0].text, "Flour");
  EXPECT_EQ(lines[1].text, "Sugar");
  EXPECT_EQ(lines[2].text, "");  // no terminator after Salt

  EXPECT_FALSE(c->LoadIngredientText("000000000000999"));
  lists.iValues.Set("empty", "");
  EXPECT_FALSE(c->LoadIngredientText("empty"));

  settings.ImportType = 1;
  settings.INGRCOLCount = 4;
  lists.iValues.Set("7", "Flour;Sugar;");
  auto d = Make();
  ASSERT_TRUE(d->LoadIngredientText("7"));
  EXPECT_EQ(d->GoodsRecord().ingredientLines[0].text, "Flou");
  EXPECT_EQ(d->GoodsRecord().ingredientLines[1].text, "Suga");
}

TEST_F(ImportLineTest, LinesBeyondTheIngredientRowsBecomeMessages) {
  settings.ImportType = 0;
  settings.INGRROWCount = 1;
  settings.SMESSCOLCount = 2;
  lists.iValues.Set("k", std::string("A\x03" "BBB\x03" "C\x03"));
  auto c = Make();
  TGoodsRecord& r = c->GoodsRecord();
  ASSERT_TRUE(c->LoadIngredientText("k"));
  c->SplitMessageLines();
  EXPECT_EQ(r.ingredientLines[0].text, "A");
  EXPECT_EQ(r.ingredientLines[1].text, " ");
  EXPECT_EQ(r.ingredientLines[22].text, " ");
  EXPECT_EQ(r.messageLines[0].text, "BB");
  EXPECT_EQ(r.messageLines[1].text, "C");
  EXPECT_EQ(r.messageLines[2].text, "");

  // MaxMessRowCount bounds the message lines taken.
  settings.MaxMessRowCount = 1;
  auto d = Make();
  ASSERT_TRUE(d->LoadIngredientText("k"));
  d->SplitMessageLines();
  EXPECT_EQ(d->GoodsRecord().messageLines[0].text, "BB");
  EXPECT_EQ(d->GoodsRecord().messageLines[1].text, "");
}

TEST_F(ImportLineTest, DeletionEntries) {
  auto c = Make();
  EXPECT_EQ(c->ParseDeletionEntry(";123"), 123);
  EXPECT_EQ(c->ParseDeletionEntry("456"), 456);
  EXPECT_EQ(c->ParseDeletionEntry(";0"), 0);
  for (const char* skipped : {"abc", "", ";", ";-5", "12a", "99999999999"}) {
    EXPECT_FALSE(c->ParseDeletionEntry(skipped).has_value()) << skipped;
  }
  std::vector<uint8_t> frame(c->FrameBuffer(), c->FrameBuffer() + c->FrameDeletion(123));
  EXPECT_EQ(frame, (std::vector<uint8_t>{0xF3, 0x25, 0x00, 0x00, 0x01, 0x23}));
  // More than eight digits: the first eight.
  frame.assign(c->FrameBuffer(), c->FrameBuffer() + c->FrameDeletion(123456789));
  EXPECT_EQ(frame, (std::vector<uint8_t>{0xF3, 0x25, 0x12, 0x34, 0x56, 0x78}));
}

void ExpectClock(const TClockSetting& t, int day, int month, int year, int hour, int minute) {
  EXPECT_EQ(t.day, day);
  EXPECT_EQ(t.month, month);
  EXPECT_EQ(t.year, year);
  EXPECT_EQ(t.hour, hour);
  EXPECT_EQ(t.minute, minute);
}

TEST_F(ImportLineTest, ClockFrameOf5March2024) {
  settings.ImportType = 0;
  auto c = Make();
  TClockSetting t;
  ASSERT_TRUE(c->ParseClockLine("202403050907", t));
  size_t n = c->FrameClock(t);
  std::vector<uint8_t> frame(c->FrameBuffer(), c->FrameBuffer() + n);
  EXPECT_EQ(frame, (std::vector<uint8_t>{0xF1, 0x4E, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x05, 0x03,
                                         0x24, 0x00, 0x00, 0x09, 0x07}));
}

TEST_F(ImportLineTest, ClockLinesOfTheFixedFormat) {
  settings.ImportType = 0;
  clock.now = {2031, 12, 24, 18, 45, 0};
  auto c = Make();
  TClockSetting t;
  ASSERT_TRUE(c->ParseClockLine("199912312359", t));
  ExpectClock(t, 31, 12, 99, 23, 59);
  ASSERT_TRUE(c->ParseClockLine("", t));
  ExpectClock(t, 24, 12, 31, 18, 45);
  EXPECT_FALSE(c->ParseClockLine("20240305", t));
  EXPECT_FALSE(c->ParseClockLine("2024030509x7", t));
  EXPECT_FALSE(c->ParseClockLine(";2024;3;5;9;7", t));
}

TEST_F(ImportLineTest, ClockLinesOfTheDelimitedFormats) {
  clock.now = {2031, 12, 24, 18, 45, 0};
  for (uint8_t type : {1, 2}) {
    settings.ImportType = type;
    auto c = Make();
    TClockSetting t;
    ASSERT_TRUE(c->ParseClockLine(";2024;3;5;9;7", t));
    ExpectClock(t, 5, 3, 24, 9, 7);
    ASSERT_TRUE(c->ParseClockLine("; 2024 ; 3 ; 5 ; 9 ; 7;extra", t));
    ExpectClock(t, 5, 3, 24, 9, 7);
    ASSERT_TRUE(c->ParseClockLine(";now", t));
    ExpectClock(t, 24, 12, 31, 18, 45);
    ASSERT_TRUE(c->ParseClockLine("no separator", t));
    ExpectClock(t, 24, 12, 31, 18, 45);
    EXPECT_FALSE(c->ParseClockLine(";2024;3;5", t));
    EXPECT_FALSE(c->ParseClockLine(";2024;3;5;9;x", t));
    // Out of range values are sent as they are, unless two digits cannot hold them.
    ASSERT_TRUE(c->ParseClockLine(";2024;13;32;25;61", t));
    ExpectClock(t, 32, 13, 24, 25, 61);
    EXPECT_FALSE(c->ParseClockLine(";2024;3;5;9;100", t));
    EXPECT_FALSE(c->ParseClockLine(";2024;-3;5;9;7", t));
  }
  // The client's list separator cuts clock lines.
  settings.ImportType = 1;
  settings.ListSeparator = ',';
  auto c = Make();
  TClockSetting t;
  ASSERT_TRUE(c->ParseClockLine(",2024,3,5,9,7", t));
  ExpectClock(t, 5, 3, 24, 9, 7);
}

}  // namespace
}  // namespace tv::test
