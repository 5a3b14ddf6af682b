// Goods records and their frames, byte for byte.
#include <gtest/gtest.h>

#include "scale/goodsencoder.h"
#include "scale/encoder_fixture.h"
#include "scale/worked_record.h"

namespace tv::test {
namespace {

using V = std::vector<uint8_t>;

const std::string& kExample = kWorkedRecordLine;

std::string Line1A(const std::string& barcode, const std::string& code, const std::string& kind,
                   const std::string& alt, const std::string& price, const std::string& days,
                   const std::string& name = "Apple") {
  return ";" + barcode + ";" + code + ";x;x;" + kind + ";" + alt + ";" + price + ";" + days +
         ";x;" + name;
}

V Slice(const V& v, size_t from, size_t n) {
  if (from + n > v.size()) return {};
  return V(v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(from + n));
}

// Frame offsets: 2 frame bytes, then the record's fields.
constexpr size_t kFlags = 8, kPrice = 13, kLabelFormat = 17, kBarcodeType = 18, kBarcode = 19,
                 kOptional = 26;

class GoodsRecordTest : public ::testing::Test, public EncoderFixture {};

TEST_F(GoodsRecordTest, WorkedExampleIsEncodedByteForByte) {
  auto c = Make();
  V frame = GoodsFrame(*c, kExample);
  const V& expected = kWorkedRecordFrame;
  EXPECT_EQ(frame, expected);
  EXPECT_EQ(frame.size(), static_cast<size_t>(c->GoodsRecord().RecordLength) + 2);
}

TEST_F(GoodsRecordTest, BarcodeDigitsPaddingPrefixAndSuffixes) {
  auto bench = Make();
  EXPECT_EQ(Slice(GoodsFrame(*bench, Line1A("2001234", "5", "0", "0", "1", "0")), kBarcode, 7),
            (V{0x20, 0x01, 0x23, 0x40, 0x00, 0x00, 0x01}));

  ScaleArgs big;
  big.ScaleType = TScaleType::BigPlatform;
  big.BarPrefix = "22";
  auto platform = Make(big);
  EXPECT_EQ(Slice(GoodsFrame(*platform, Line1A("9912345", "5", "0", "0", "1", "0")), kBarcode, 7),
            (V{0x22, 0x12, 0x34, 0x50, 0x00, 0x00, 0x01}));

  ScaleArgs longCode;
  longCode.LongBarCode = true;
  auto lc = Make(longCode);
  EXPECT_EQ(Slice(GoodsFrame(*lc, Line1A("123456789012", "5", "0", "0", "1", "0")), kBarcode, 7),
            (V{0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x81}));
  EXPECT_EQ(Slice(GoodsFrame(*lc, Line1A("123456789012", "5", "3", "0", "1", "0")), kBarcode, 7),
            (V{0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x82}));
  // A non-digit kind reads as 0.
  EXPECT_EQ(Slice(GoodsFrame(*bench, Line1A("123456789012", "5", "k", "0", "1", "0")), kBarcode, 7),
            (V{0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x01}));

  // The suffix fills only what is left of fourteen digits.
  big.BarPrefix = "2233";
  auto full = Make(big);
  EXPECT_EQ(Slice(GoodsFrame(*full, Line1A("991234567890", "5", "0", "0", "1", "0")), kBarcode, 7),
            (V{0x22, 0x33, 0x12, 0x34, 0x56, 0x78, 0x90}));
  big.BarPrefix = "223";
  auto odd = Make(big);
  EXPECT_EQ(Slice(GoodsFrame(*odd, Line1A("991234567890", "5", "0", "0", "1", "0")), kBarcode, 7),
            (V{0x22, 0x31, 0x23, 0x45, 0x67, 0x89, 0x00}));
}

TEST_F(GoodsRecordTest, ConstantBarcodeForKindOneWhateverLongBarCode) {
  ScaleArgs a;
  a.ConstBarcode = true;
  a.LongBarCode = true;
  auto c = Make(a);
  V frame = GoodsFrame(*c, Line1A("2001234", "000123", "1", "0", "1.50", "5"));
  ASSERT_FALSE(frame.empty());
  EXPECT_EQ(frame[kBarcodeType], 8);
  EXPECT_EQ(Slice(frame, kBarcode, 7), (V{0x20, 0x01, 0x23, 0x40, 0x00, 0x00, 0x02}));
  EXPECT_EQ(Slice(frame, kFlags, 5), (V{0x55, 0x00, 0x8D, 0x64, 0x11}));
  // ShelfLifeA, ZeroValue, CountValue, NoTextValue.
  EXPECT_EQ(Slice(frame, kOptional, 7), (V{0x00, 0x05, 0x00, 0x00, 0x00, 0x01, 0x01}));
  EXPECT_EQ(frame.size(), static_cast<size_t>(c->GoodsRecord().RecordLength) + 2);

  // Kind 0 keeps the scale's own type and the long suffix.
  V plain = GoodsFrame(*c, Line1A("2001234", "000123", "0", "0", "1.50", "5"));
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(plain[kBarcodeType], 5);
  EXPECT_EQ(plain[kBarcode + 6], 0x81);
}

TEST_F(GoodsRecordTest, AlternativeLabelFormatStopsAt99) {
  auto c = Make();
  V next = GoodsFrame(*c, Line1A("1", "7", "0", "1", "2", "0"));
  ASSERT_FALSE(next.empty());
  EXPECT_EQ(next[kLabelFormat], 18);
  EXPECT_EQ(next[kFlags + 1], 0x02);  // Flag2 bit 1

  ScaleArgs last;
  last.LabelFormat = 99;
  auto c99 = Make(last);
  V frame = GoodsFrame(*c99, Line1A("1", "7", "0", "1", "2", "0"));
  ASSERT_FALSE(frame.empty());
  EXPECT_EQ(frame[kLabelFormat], 0x63);
}

TEST_F(GoodsRecordTest, ShelfLifeRouting) {
  auto c = Make();
  // UseByFlag "1" (layout 1B) moves the days to ShelfLifeB.
  V useBy = GoodsFrame(*c, ";000123;2001234;1.50;0;0;5;1;Apple");
  ASSERT_FALSE(useBy.empty());
  EXPECT_EQ(useBy[kFlags], 0x70);
  EXPECT_EQ(useBy[kFlags + 4], 0x12);
  EXPECT_EQ(Slice(useBy, kOptional, 5), (V{0x00, 0x05, 0x00, 0x00, 0x01}));

  // Without the flag the scale's use-by-in-days setting decides.
  ScaleArgs inDays;
  inDays.UseByInDays = true;
  auto d = Make(inDays);
  V routed = GoodsFrame(*d, kExample);
  ASSERT_FALSE(routed.empty());
  EXPECT_EQ(routed[kFlags + 4], 0x12);
  V explicitA = GoodsFrame(*d, ";000123;2001234;1.50;0;0;5;0;Apple");
  ASSERT_FALSE(explicitA.empty());
  EXPECT_EQ(explicitA[kFlags + 4], 0x11);
}

TEST_F(GoodsRecordTest, ExtendedLineCarriesLabelFormatAndShelfLifeC) {
  settings.ImportType = 2;
  auto c = Make();
  V frame = GoodsFrame(*c, ";2001234;000123;r1;r2;0;0;1.50;7;r3;extra;42;Apple;x;y;z");
  ASSERT_FALSE(frame.empty());
  EXPECT_EQ(frame[kLabelFormat], 42);
  // Ingredient text was stored, so the ingredient block stays selected.
  EXPECT_EQ(Slice(frame, kFlags, 5), (V{0x5C, 0x00, 0x0D, 0xE0, 0x15}));
  // ShelfLifeA 2, ShelfLifeC 7, ZeroValue.
  EXPECT_EQ(Slice(frame, kOptional, 6), (V{0x00, 0x02, 0x00, 0x07, 0x00, 0x00}));
  EXPECT_EQ(frame.size(), static_cast<size_t>(c->GoodsRecord().RecordLength) + 2);
}

TEST_F(GoodsRecordTest, GoodsNumberAndPriceLimits) {
  auto c = Make();
  EXPECT_TRUE(GoodsFrame(*c, Line1A("1", "999998", "0", "0", "1", "0")).empty());
  EXPECT_TRUE(GoodsFrame(*c, Line1A("1", "0", "0", "0", "1", "0")).empty());
  EXPECT_TRUE(GoodsFrame(*c, Line1A("1", "abc", "0", "0", "1", "0")).empty());
  EXPECT_FALSE(GoodsFrame(*c, Line1A("1", "999997", "0", "0", "1", "0")).empty());
  for (const char* none : {"0.00", "abc", "", "-1.50", "0.004", "1000000", "1.5.0"}) {
    EXPECT_TRUE(GoodsFrame(*c, Line1A("1", "5", "0", "0", none, "0")).empty()) << none;
  }
  EXPECT_EQ(c->ResultCode(), kResultDelivered);  // rejected lines leave no code
}

TEST_F(GoodsRecordTest, PricesRoundToHundredthsHalfAwayFromZero) {
  auto c = Make();
  struct Case {
    const char* price;
    V digits;
  } cases[] = {
      {"12.5", {0x00, 0x00, 0x12, 0x50}},     {"3", {0x00, 0x00, 0x03, 0x00}},
      {"0.99", {0x00, 0x00, 0x00, 0x99}},     {"1.505", {0x00, 0x00, 0x01, 0x51}},
      {"1.504", {0x00, 0x00, 0x01, 0x50}},    {"2.675", {0x00, 0x00, 0x02, 0x68}},
      {"0.005", {0x00, 0x00, 0x00, 0x01}},    {"999999.9", {0x99, 0x99, 0x99, 0x90}},
      {"0001.50", {0x00, 0x00, 0x01, 0x50}},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(Slice(GoodsFrame(*c, Line1A("1", "5", "0", "0", k.price, "0")), kPrice, 4), k.digits)
        << k.price;
  }
  EXPECT_EQ(TGoodsEncoder::EncodePrice(125000), "00001250");
  EXPECT_EQ(TGoodsEncoder::EncodePrice(9999999949), "99999999");
  EXPECT_EQ(TGoodsEncoder::EncodePrice(9999999950), "00000000");  // would need a ninth digit
  EXPECT_EQ(TGoodsEncoder::EncodePrice(-15000), "00000000");
}

TEST_F(GoodsRecordTest, PricesFollowTheSeparatorsInUse) {
  // Client "," on a "." host: the client's separator becomes the host's.
  settings.DecimalSeparator = ',';
  auto c = Make();
  EXPECT_EQ(Slice(GoodsFrame(*c, ";000123;2001234;1,50;0;0;5;1;Apple"), kPrice, 4),
            (V{0x00, 0x00, 0x01, 0x50}));

  // A "," host reads both "1,50" and the "." that the record's rule maps.
  settings.DecimalSeparator = 0;
  host.decimalSeparator = ',';
  auto h = Make();
  EXPECT_EQ(h->DecimalSeparator(), ',');
  EXPECT_EQ(Slice(GoodsFrame(*h, Line1A("1", "5", "0", "0", "1,50", "0")), kPrice, 4),
            (V{0x00, 0x00, 0x01, 0x50}));
  EXPECT_EQ(Slice(GoodsFrame(*h, Line1A("1", "5", "0", "0", "1.50", "0")), kPrice, 4),
            (V{0x00, 0x00, 0x01, 0x50}));
}

TEST_F(GoodsRecordTest, SeparatorsDefaultToTheHostsAtCreation) {
  host.listSeparator = ';';
  host.decimalSeparator = ',';
  auto plain = Make();
  EXPECT_EQ(plain->ListSeparator(), ';');
  EXPECT_EQ(plain->DecimalSeparator(), ',');
  settings.DecimalSeparator = '.';
  auto c = Make();
  EXPECT_EQ(c->DecimalSeparator(), '.');
  EXPECT_EQ(c->ListSeparator(), ';');
}

TEST_F(GoodsRecordTest, OversizedTextNeverOverrunsTheRecord) {
  settings.INGRROWCount = 60;
  settings.INGRCOLCount = 100000;
  settings.SMESSROWCount = 60;
  settings.SMESSCOLCount = 100000;
  settings.MaxMessRowCount = 60;
  settings.ImportType = 1;
  std::string text;
  for (int i = 0; i < 40; ++i) text += std::string(500, static_cast<char>('a' + i % 26)) + ";";
  lists.iValues.Set("000123", text);
  ScaleArgs odd;
  odd.LabelWidth = 33;  // not in the width table
  auto c = Make(odd);
  V frame = GoodsFrame(*c, Line1A("1", "000123", "0", "0", "1", "0", std::string(200, 'N')));
  ASSERT_FALSE(frame.empty());
  EXPECT_EQ(frame.size(), static_cast<size_t>(c->GoodsRecord().RecordLength) + 2);
  EXPECT_EQ(frame.back(), 0x00);
  // Every line is held to 100 characters, every block to its line count.
  EXPECT_LE(frame.size(), 2u + 25 + 30 + 2 * 83 + (23 + 8) * 103);
}

TEST_F(GoodsRecordTest, UnencodableRecordGivesNoFrame) {
  auto c = Make();
  ASSERT_FALSE(GoodsFrame(*c, kExample).empty());
  c->GoodsRecord().ShelfLifeA = 12345;  // does not fit four digits
  EXPECT_FALSE(c->EncodeGoodsRecord());
  EXPECT_EQ(c->FrameGoodsRecord(), 0u);
}

}  // namespace
}  // namespace tv::test
