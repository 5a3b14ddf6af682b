// Name splits by label width and the label text blocks on the wire.
#include <gtest/gtest.h>

#include "scale/goodsencoder.h"
#include "scale/encoder_fixture.h"

namespace tv::test {
namespace {

using V = std::vector<uint8_t>;

class LabelTextTest : public ::testing::Test, public EncoderFixture {
 protected:
  TNameSplit Split(const std::string& name, int32_t width, bool nameAlgorithm = false,
                   TScaleType type = TScaleType::Bench) {
    ScaleArgs a;
    a.NameAlgorithm = nameAlgorithm;
    a.ScaleType = type;
    a.LabelWidth = width;
    auto c = Make(a);
    TNameSplit s;
    c->SplitName(name, width, s);
    return s;
  }

  // The text blocks selected by `flag4` as they go on the wire, and the
  // bytes they add to the record length.
  V Blocks(TGoodsEncoder& c, uint8_t flag4, int32_t* added = nullptr) {
    c.GoodsRecord().Flag4 = flag4;
    int32_t bytes = c.PrepareTextBlocks();
    if (added) *added = bytes;
    uint8_t buf[4096];
    TRecordWriter out(buf, sizeof buf);
    c.WriteTextBlocks(out);
    EXPECT_TRUE(out.Ok());
    EXPECT_EQ(static_cast<size_t>(bytes), out.Size());
    return V(buf, buf + out.Size());
  }
};

void ExpectSplit(const TNameSplit& s, const std::string& l1, const std::string& l2, int f1, int f2) {
  EXPECT_EQ(s.line1, l1);
  EXPECT_EQ(s.line2, l2);
  EXPECT_EQ(s.font1, f1);
  if (!l2.empty()) {
    EXPECT_EQ(s.font2, f2);
  }
}

TEST_F(LabelTextTest, ShortNamesStayOnOneLine) {
  ExpectSplit(Split(std::string(18, 'a'), 58), std::string(18, 'a'), "", 9, 0);
  ExpectSplit(Split(std::string(25, 'a'), 58), std::string(25, 'a'), "", 8, 0);
  ExpectSplit(Split(std::string(9, 'a'), 30), std::string(9, 'a'), "", 9, 0);
  ExpectSplit(Split(std::string(12, 'a'), 37), std::string(12, 'a'), "", 7, 0);
  ExpectSplit(Split(std::string(18, 'a'), 43), std::string(18, 'a'), "", 5, 0);
}

TEST_F(LabelTextTest, SplitsAtTheSpaceBeforeTheLineLimit) {
  ExpectSplit(Split("ABCD EFGH IJKL MNOP QRST", 30), "ABCD EFGH IJKL", "MNOP QRST", 5, 5);
  // No space: the first line limit - 2 characters, then the rest.
  ExpectSplit(Split("ABCDEFGHIJKLMNOPQRST", 30), "ABCDEFGHIJKLMNO", "PQRST", 5, 5);
  // A trailing space is no split point.
  ExpectSplit(Split("ABCDEFGHIJKLMNOPQRS ", 30), "ABCDEFGHIJKLMNO", "PQRS ", 5, 5);
}

TEST_F(LabelTextTest, LongSecondLineShrinksItsFontOrIsCut) {
  const std::string second(25, 'b');
  const std::string name = "ABCDEFGHIJ " + second;
  ExpectSplit(Split(name, 30), "ABCDEFGHIJ", second, 5, 1);
  ExpectSplit(Split(name, 30, true), "ABCDEFGHIJ", second.substr(0, 15), 5, 5);
  ExpectSplit(Split("ABCDEFGHIJ " + std::string(18, 'b'), 30), "ABCDEFGHIJ", std::string(18, 'b'), 5, 4);

  ExpectSplit(Split("ABCDEFGHIJ " + std::string(45, 'c'), 58), "ABCDEFGHIJ", std::string(45, 'c'), 7, 3);
  ExpectSplit(Split("ABCDEFGHIJ " + std::string(60, 'c'), 58), "ABCDEFGHIJ", std::string(60, 'c'), 7, 1);
  ExpectSplit(Split("ABCDEFGHIJ " + std::string(30, 'c'), 58), "ABCDEFGHIJ", std::string(30, 'c'), 7, 4);
}

TEST_F(LabelTextTest, BigPlatformWithForceDi30UsesWidth30) {
  settings.ForceDi30 = true;
  ExpectSplit(Split(std::string(12, 'a'), 58, false, TScaleType::BigPlatform), std::string(12, 'a'),
              "", 5, 0);
  ExpectSplit(Split(std::string(12, 'a'), 58, false, TScaleType::Bench), std::string(12, 'a'), "",
              9, 0);
}

TEST_F(LabelTextTest, UnknownWidthKeepsZeroParameters) {
  ExpectSplit(Split("Apple pie", 33), "", "Apple pie", 0, 1);
  ExpectSplit(Split("Apple pie", 33, true), "", "", 0, 0);
  ExpectSplit(Split("", 30), "", "", 9, 0);
}

TEST_F(LabelTextTest, NameBlock) {
  auto c = Make();
  auto& name = c->GoodsRecord().nameLines;
  name[0] = {"AB", 5};
  name[1] = {"CD", 5};
  int32_t added = 0;
  EXPECT_EQ(Blocks(*c, 0x20, &added), (V{0x05, 0x02, 'A', 'B', 0x0D, 0x05, 0x02, 'C', 'D', 0x0C}));
  EXPECT_EQ(added, 10);

  // An empty first line is still sent; a line after an empty one is not.
  name[0].text.clear();
  name[1].text.clear();
  name[2] = {"EF", 1};
  EXPECT_EQ(Blocks(*c, 0x20), (V{0x05, 0x00, 0x0C}));
}

TEST_F(LabelTextTest, IngredientBlockFillsGapsUpToItsRowCount) {
  settings.ImportType = 0;
  lists.iValues.Set("k", std::string("Flour\x03\x03Salt\x03"));
  auto c = Make();
  ASSERT_TRUE(c->LoadIngredientText("k"));
  c->SplitMessageLines();
  V expected = {0x03, 0x05, 'F', 'l', 'o', 'u', 'r', 0x0D, 0x03, 0x01, ' ', 0x0D,
                0x03, 0x04, 'S', 'a', 'l', 't', 0x0D};
  for (int i = 4; i <= 7; ++i) {
    for (uint8_t b : {0x03, 0x01, 0x20}) expected.push_back(b);
    expected.push_back(i == 7 ? 0x0C : 0x0D);
  }
  EXPECT_EQ(Blocks(*c, 0x80), expected);

  // Without filled lines after them, trailing empty lines are left out.
  auto d = Make();
  auto& lines = d->GoodsRecord().ingredientLines;
  lines[0].text = "A";
  lines[2].text = "C";
  EXPECT_EQ(Blocks(*d, 0x80),
            (V{0x03, 0x01, 'A', 0x0D, 0x03, 0x01, ' ', 0x0D, 0x03, 0x01, 'C', 0x0C}));
}

TEST_F(LabelTextTest, MessageBlockSkipsEmptyLines) {
  auto c = Make();
  auto& lines = c->GoodsRecord().messageLines;
  lines[0].text = "M1";
  lines[2].text = "M3";
  EXPECT_EQ(Blocks(*c, 0x40), (V{0x02, 0x02, 'M', '1', 0x0C, 0x02, 0x02, 'M', '3', 0x0C}));

  lines[1].text = "M2";
  EXPECT_EQ(Blocks(*c, 0x40), (V{0x02, 0x02, 'M', '1', 0x0D, 0x02, 0x02, 'M', '2', 0x0D, 0x02,
                                 0x02, 'M', '3', 0x0C}));

  // MaxMessRowCount below SMESSROWCount still ends the block with FF.
  settings.MaxMessRowCount = 2;
  auto d = Make();
  d->GoodsRecord().messageLines[0].text = "M1";
  d->GoodsRecord().messageLines[1].text = "M2";
  d->GoodsRecord().messageLines[2].text = "M3";
  EXPECT_EQ(Blocks(*d, 0x40), (V{0x02, 0x02, 'M', '1', 0x0D, 0x02, 0x02, 'M', '2', 0x0C}));

  auto empty = Make();
  EXPECT_EQ(Blocks(*empty, 0x40), (V{0x02, 0x01, 0x20, 0x0C}));
}

TEST_F(LabelTextTest, ZeroRowCountsStillSendTheCountedFirstLine) {
  settings.INGRROWCount = 0;
  settings.SMESSROWCount = 0;
  auto c = Make();
  int32_t added = 0;
  EXPECT_EQ(Blocks(*c, 0xC0, &added), (V{0x03, 0x01, 0x20, 0x0C, 0x02, 0x01, 0x20, 0x0C}));
  EXPECT_EQ(added, 8);
}

TEST_F(LabelTextTest, TextIsRecodedForTheScale) {
  const std::string milk = "\xCC\xEE\xEB\xEE\xEA\xEE";  // "Молоко" in Windows-1251
  ScaleArgs oem;
  oem.TextToOEM = true;
  auto c = Make(oem);
  c->GoodsRecord().nameLines[0] = {milk, 9};
  EXPECT_EQ(Blocks(*c, 0x20), (V{0x09, 0x06, 0x8C, 0xAE, 0xAB, 0xAE, 0xAA, 0xAE, 0x0C}));

  // An SM700 scale gets ISO 8859-5 after the OEM step.
  oem.ScaleType = TScaleType::SM700;
  auto sm = Make(oem);
  sm->GoodsRecord().nameLines[0] = {milk, 9};
  EXPECT_EQ(Blocks(*sm, 0x20), (V{0x09, 0x06, 0xBC, 0xDE, 0xDB, 0xDE, 0xDA, 0xDE, 0x0C}));

  // Without the OEM step the text goes as it stands.
  auto plain = Make();
  plain->GoodsRecord().nameLines[0] = {milk, 9};
  EXPECT_EQ(Blocks(*plain, 0x20), (V{0x09, 0x06, 0xCC, 0xEE, 0xEB, 0xEE, 0xEA, 0xEE, 0x0C}));
}

}  // namespace
}  // namespace tv::test
