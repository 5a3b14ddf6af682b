// Goods records made back into goods lines: for each layout and the
// settings that shape a record (code page, scale type, barcode prefix,
// text rows), the lines give the very bytes the record had, and a record
// that settings made otherwise is named, not passed off as the same.
#include "cli/recordline.h"

#include <gtest/gtest.h>

#include "files/importparse.h"
#include "scale/encodedfile.h"

namespace tv {
namespace {

struct Case {
  TScaleProfile profile;
  platform::Regional host;
};

Case Profile(int importType) {
  Case c;
  c.profile.ImportType = static_cast<uint8_t>(importType);
  c.profile.ScaleType = TScaleType::Bench;
  c.profile.LabelWidth = 58;
  c.profile.LabelFormat = 17;
  c.profile.BarcodeType = 5;
  c.profile.INGRROWCount = 3;
  c.profile.SMESSROWCount = 2;
  c.profile.INGRCOLCount = 30;
  c.profile.SMESSCOLCount = 30;
  c.profile.MaxMessRowCount = 4;
  c.host.listSeparator = ';';
  c.host.decimalSeparator = ',';
  return c;
}

// The goods frames a back office's file gives.
std::vector<std::vector<uint8_t>> Frames(const std::string& file, const Case& c) {
  TLineLists lists;
  ParseImportBytes(file, c.profile.ImportType, c.host.listSeparator, lists);
  TEncodedFile encoded;
  EncodeFile(lists, c.profile, c.host, encoded);
  std::vector<std::vector<uint8_t>> out;
  for (const TDeliveryStep& s : encoded.steps)
    if (s.kind == TStepKind::Goods && s.length)
      out.emplace_back(encoded.Frame(s), encoded.Frame(s) + s.length);
  return out;
}

// Every record of `file` comes back as lines that make it again, also as
// one file; the lines are returned for a look at them.
std::string RoundTrip(const std::string& file, const Case& c, size_t records) {
  const auto frames = Frames(file, c);
  EXPECT_EQ(frames.size(), records) << file;
  std::vector<TRecordLines> lines;
  for (const auto& f : frames) {
    lines.push_back(LinesOfRecord(f, c.profile, c.host));
    EXPECT_TRUE(lines.back().same) << lines.back().lines << " " << lines.back().why;
  }
  const std::string made = GoodsFileOf(lines, frames, c.profile, c.host);
  for (const TRecordLines& l : lines) EXPECT_TRUE(l.same) << l.why;
  EXPECT_EQ(Frames(made, c), frames);
  return made;
}

std::string Fixed(int code, const std::string& price, const std::string& name,
                  const std::string& kindAlt = "00", const std::string& barcode = "200123400000") {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%015d", code);
  std::string a = "A" + barcode + buf + "0000" + "0000" + kindAlt + price + "012" + "0000" + name;
  a.resize(133, ' ');
  return a + "\r\n";
}

TEST(RecordLines, FixedLayoutKeepsNamesTextsPricesAndFlags) {
  Case c = Profile(0);
  const std::string file =
      "I000000000000007Flour\x03Sugar\x03"
      "Eggs\x03Keep cool\x03Sold by weight\x03\r\n" +
      Fixed(7, "00012.35", "Honey cake with almonds and a long name", "11") +
      Fixed(8, "00000.05", "Salt") + Fixed(9, "99999.99", "Caviar", "01", "ABC00000001");
  const std::string made = RoundTrip(file, c, 3);
  // The text comes back without the blank rows the encoder fills in.
  EXPECT_NE(made.find("Flour\x03Sugar\x03"
                      "Eggs\x03Keep cool\x03Sold by weight\x03\r\n"),
            std::string::npos)
      << made;
  EXPECT_EQ(made.substr(made.size() - 3), "T\r\n");

  // No ingredient rows: the whole text goes to the message lines.
  c.profile.INGRROWCount = 0;
  RoundTrip(file, c, 3);
}

TEST(RecordLines, DelimitedAndExtendedLayouts) {
  Case c = Profile(1);
  c.profile.ListSeparator = '|';
  c.profile.UseByInDays = true;
  RoundTrip(
      "I;5;Rye;Water;\r\n"
      "A|5|2001234|3.99|0|1|14|0|Rye bread\r\n"
      "A|6|2001235|1,25|1|0|3|1|Butter rolls from the bakery down the road\r\n",
      c, 2);

  Case e = Profile(2);
  const std::string made = RoundTrip(
      "A;2001234;11;r1;r2;0;0;4.50;21;r3;x;33;Cheese;aged;mild\r\n"
      "A;2001235;12;r1;r2;1;1;0.10;0;r3;x;4;Milk\r\n",
      e, 2);
  // The label format travels in the line.
  EXPECT_NE(made.find(";33;Cheese;"), std::string::npos) << made;
}

TEST(RecordLines, CodePagesScaleTypesAndBarcodePrefixesAreUndone) {
  Case c = Profile(0);
  c.profile.TextToOEM = true;
  // Windows-1251: "Молоко свежее цельное пастеризованное"
  const std::string name =
      "\xCC\xEE\xEB\xEE\xEA\xEE \xF1\xE2\xE5\xE6\xE5\xE5 \xF6\xE5\xEB\xFC\xED\xEE\xE5 "
      "\xEF\xE0\xF1\xF2\xE5\xF0\xE8\xE7\xEE\xE2\xE0\xED\xED\xEE\xE5";
  const std::string file = Fixed(21, "00002.10", name) + Fixed(22, "00003.00", "Kefir", "10");
  const std::string made = RoundTrip(file, c, 2);
  EXPECT_NE(made.find(name), std::string::npos) << "the name in the file's own code page";

  c.profile.ScaleType = TScaleType::SM700;
  RoundTrip(file, c, 2);

  Case big = Profile(0);
  big.profile.ScaleType = TScaleType::BigPlatform;
  big.profile.BarPrefix = "270";
  big.profile.ConstBarcode = true;
  RoundTrip(Fixed(31, "00005.00", "Potatoes") + Fixed(32, "00006.00", "Onions", "10"), big, 2);
}

TEST(RecordLines, ARecordOtherSettingsMadeIsNamedNotPassedOff) {
  Case then = Profile(0);
  const auto frames = Frames(Fixed(41, "00001.00", "Pear"), then);
  ASSERT_EQ(frames.size(), 1u);
  Case now = then;
  now.profile.LabelFormat = 18;
  const TRecordLines l = LinesOfRecord(frames[0], now.profile, now.host);
  EXPECT_FALSE(l.same);
  EXPECT_EQ(l.goods, 41);
  EXPECT_EQ(l.why, "label format 17 would be made as 18");

  // Blanks after a name, which the fixed layout's name column cannot keep.
  const auto blanks = Frames("A;41;200123400000;1;0;0;12;0;Pear  \r\n", Profile(1));
  ASSERT_EQ(blanks.size(), 1u);
  const TRecordLines trimmed = LinesOfRecord(blanks[0], then.profile, then.host);
  EXPECT_FALSE(trimmed.same);
  EXPECT_NE(trimmed.why.find("name line"), std::string::npos) << trimmed.why;
  EXPECT_TRUE(LinesOfRecord(blanks[0], Profile(1).profile, then.host).same);

  const TRecordLines broken = LinesOfRecord({0xF1, 0x25, 0x00}, then.profile, then.host);
  EXPECT_FALSE(broken.same);
  EXPECT_NE(broken.why.find("no goods record"), std::string::npos);
}

}  // namespace
}  // namespace tv
