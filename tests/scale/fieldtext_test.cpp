// Numbers read with explicit separators, and the bounded record writer.
#include <gtest/gtest.h>

#include "scale/fieldtext.h"
#include "scale/recordwriter.h"

namespace tv {
namespace {

TEST(FieldTextTest, DecimalNumbersReadWithTheGivenSeparatorOnly) {
  double v = 0;
  EXPECT_TRUE(ParseDecimalNumber("1,50", ',', v));
  EXPECT_DOUBLE_EQ(v, 1.5);
  EXPECT_TRUE(ParseDecimalNumber(" 1.50 ", '.', v));
  EXPECT_DOUBLE_EQ(v, 1.5);
  EXPECT_TRUE(ParseDecimalNumber(".99", '.', v));
  EXPECT_DOUBLE_EQ(v, 0.99);
  EXPECT_TRUE(ParseDecimalNumber("1e2", '.', v));
  EXPECT_DOUBLE_EQ(v, 100);
  for (const char* bad : {"", "1.50", "1,5,0", "inf", "nan", "1,5x", ","}) {
    EXPECT_FALSE(ParseDecimalNumber(bad, ',', v)) << bad;
  }
}

TEST(RecordWriterTest, PacksDecimalAndStopsAtCapacity) {
  uint8_t buf[6] = {};
  TRecordWriter out(buf, 4);
  out.Bcd(123, 4);
  out.HexText("aF");
  EXPECT_TRUE(out.Ok());
  EXPECT_EQ(buf[0], 0x01);
  EXPECT_EQ(buf[1], 0x23);
  EXPECT_EQ(buf[2], 0xAF);
  out.Bcd(12, 4);  // two bytes, one left
  EXPECT_FALSE(out.Ok());
  out.Byte(0x55);  // stays failed
  EXPECT_EQ(out.Size(), 3u);
  EXPECT_EQ(buf[3], 0x00);
  EXPECT_EQ(buf[4], 0x00);

  TRecordWriter text(buf, sizeof buf);
  text.HexText("1 G5");  // non-digits give nibble 0
  EXPECT_TRUE(text.Ok());
  EXPECT_EQ(buf[0], 0x10);
  EXPECT_EQ(buf[1], 0x05);
}

}  // namespace
}  // namespace tv
