#include "text/utils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tv::text {
namespace {

TEST(HexTest, HexToByteReadsTwoUpperCaseDigits) {
  EXPECT_EQ(HexToByte("F1"), 0xF1);
  EXPECT_EQ(HexToByte("7"), 0x07);
  EXPECT_EQ(HexToByte("1a"), 0x10);  // lower case counts as 0
  EXPECT_EQ(HexToByte("G5"), 0x05);
  EXPECT_EQ(HexToByte("ff"), 0x00);
  EXPECT_EQ(HexToByte(""), 0x00);
  EXPECT_EQ(HexToByte("ABCD"), 0xAB);  // only the first two count
}

TEST(HexTest, ByteToHexAndBackCoverEveryByte) {
  EXPECT_EQ(ByteToHex(0x3F), "3F");
  EXPECT_EQ(ByteToHex(0x00), "00");
  for (int b = 0; b < 256; ++b) EXPECT_EQ(HexToByte(ByteToHex(static_cast<uint8_t>(b))), b);
}

TEST(HexTest, StrToHexWritesEveryByte) {
  EXPECT_EQ(StrToHex(""), "");
  EXPECT_EQ(StrToHex(std::string("A\x00\xFF", 3)), "4100FF");
}

TEST(HexTest, StrToHexFixedCutsAndPads) {
  EXPECT_EQ(StrToHexFixed("", 160, '0', true), std::string(160, '0'));
  std::string forty(40, '\0');
  for (int i = 0; i < 40; ++i) forty[i] = static_cast<char>(i);
  EXPECT_EQ(StrToHexFixed(forty, 64, '0', true), StrToHex(forty.substr(0, 32)));
  EXPECT_EQ(StrToHexFixed("A", 6, '0', false), "000041");
  EXPECT_EQ(StrToHexFixed("A", 6, '0', true), "410000");
  EXPECT_EQ(StrToHexFixed("AB", 3, '0', true), "414");  // odd width cuts inside a byte
  EXPECT_EQ(StrToHexFixed("AB", 0, '0', true), "");
  EXPECT_EQ(StrToHexFixed("AB", -4, '0', true), "");
}

TEST(HexTest, HexToWordCombinesTwoPairs) {
  EXPECT_EQ(HexToWord("00F2"), 242);
  EXPECT_EQ(HexToWord("0055"), 85);
  EXPECT_EQ(HexToWord("1234"), 0x1234);
  EXPECT_EQ(HexToWord("12"), 0x1200);  // a missing pair counts 0
  EXPECT_EQ(HexToWord(""), 0);
}

TEST(HexTest, RecodeForScaleConvertsOnlyRussianLetters) {
  std::string text = "Ab9 ";
  text += "\xC0\xFF\xA8\xB8";  // А я Ё ё in Windows-1251
  std::string copy = text;
  EXPECT_EQ(RecodeForScale(text), "Ab9 \xB0\xEF\xA8\xB8");
  EXPECT_EQ(text, copy);
}

TEST(HexTest, OneDigitReaderWithLowerCaseOnlyWhenAsked) {
  EXPECT_EQ(HexDigitValue('7'), 7);
  EXPECT_EQ(HexDigitValue('F'), 15);
  EXPECT_EQ(HexDigitValue('f'), 0);
  EXPECT_EQ(HexDigitValue('f', true), 15);
  EXPECT_EQ(HexDigitValue('a', true), 10);
  EXPECT_EQ(HexDigitValue('G', true), 0);
  EXPECT_EQ(HexDigitValue(' ', true), 0);
}

TEST(TrimTest, DropsBlanksAndControlCharactersAtBothEnds) {
  EXPECT_EQ(Trim("  a b\t\r\n"), "a b");
  EXPECT_EQ(Trim(std::string("\x01x\0", 3)), "x");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(Trim("\xC0 "), "\xC0");  // Cyrillic bytes are above the space
}

TEST(StrToIntTest, ReadsAsDelphiDoes) {
  int32_t v = 99;
  EXPECT_TRUE(StrToInt("  42", v));
  EXPECT_EQ(v, 42);
  EXPECT_TRUE(StrToInt("-7", v));
  EXPECT_EQ(v, -7);
  EXPECT_TRUE(StrToInt("+007", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(StrToInt("-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_TRUE(StrToInt("2147483647", v));
  EXPECT_EQ(v, INT32_MAX);
  v = 5;
  for (const char* bad :
       {"", " ", "-", "42 ", "4 2", "\t42", "2147483648", "-2147483649", "0x10", "1e3"}) {
    EXPECT_FALSE(StrToInt(bad, v)) << bad;
    EXPECT_EQ(v, 5) << bad;
  }
}

TEST(StrToIntTest, PortsAreDigitsOnlyWithinRange) {
  uint16_t port = 1;
  EXPECT_TRUE(ParsePort("3058", port));
  EXPECT_EQ(port, 3058);
  EXPECT_TRUE(ParsePort("65535", port));
  EXPECT_EQ(port, 65535);
  for (const char* bad : {"", "0", "65536", "+80", " 80", "-1", "12x"}) {
    EXPECT_FALSE(ParsePort(bad, port)) << bad;
    EXPECT_EQ(port, 65535) << bad;
  }
}

}  // namespace
}  // namespace tv::text
