#include "text/cyrillic.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <array>
#include <set>
#include <string>

namespace tv::text {
namespace {

std::string Bytes(std::initializer_list<int> codes) {
  std::string s;
  for (int c : codes) s += static_cast<char>(c);
  return s;
}

const std::array<TCodeTable, 5> kAllTables = {cpDos866, cpIso88595, cpKoi8r, cpMac, cpWin1251};

TEST(RusCharTest, ConvertsLettersByTheDocumentedExamples) {
  EXPECT_EQ(ConvertString(Bytes({0xC0, 0xC1, 0xC2}), kConvWin1251ToIso), Bytes({0xB0, 0xB1, 0xB2}));
  EXPECT_EQ(ConvertString(Bytes({0xE0, 0xFF}), kConvWin1251ToIso), Bytes({0xD0, 0xEF}));
  EXPECT_EQ(ConvertString(Bytes({0xA0}), kConvDos866ToIso), Bytes({0xD0}));
  EXPECT_EQ(ConvertString(Bytes({0xE0}), kConvDos866ToIso), Bytes({0xE0}));
}

TEST(RusCharTest, LeavesNonLettersAndYoUnchanged) {
  std::string other = "09 AZaz,.;\t\r\n";
  other += Bytes({0x00, 0x7F, 0xA8, 0xB8});  // Ё and ё are not in the tables
  for (int n = 1; n <= 20; ++n) {
    TCodeTable from, to;
    ASSERT_TRUE(ConversionTables(static_cast<uint8_t>(n), from, to));
    for (char c : other) {
      bool isLetter = false;
      for (int p = 1; p <= 64; ++p) isLetter |= LetterCode(from, p) == static_cast<uint8_t>(c);
      if (!isLetter) {
        EXPECT_EQ(ConvertChar(static_cast<uint8_t>(c), from, to), static_cast<uint8_t>(c));
      }
    }
  }
  // Windows-1251 Ё/ё come out as they went in, whatever the target.
  for (int n = 17; n <= 20; ++n)
    EXPECT_EQ(ConvertString(Bytes({0xA8, 0xB8}), static_cast<uint8_t>(n)), Bytes({0xA8, 0xB8}));
}

TEST(RusCharTest, NumbersOutsideTheTableCopyAndEmptyStaysEmpty) {
  std::string text = Bytes({0xC0, 0xE0, 'x'});
  EXPECT_EQ(ConvertString(text, 0), text);
  EXPECT_EQ(ConvertString(text, 21), text);
  EXPECT_EQ(ConvertString(text, 255), text);
  EXPECT_EQ(ConvertString("", 18), "");
}

TEST(RusCharTest, NumberingFollowsSourceThenAscendingTarget) {
  std::set<std::pair<int, int>> seen;
  for (int n = 1; n <= 20; ++n) {
    TCodeTable from, to;
    ASSERT_TRUE(ConversionTables(static_cast<uint8_t>(n), from, to));
    EXPECT_NE(from, to);
    EXPECT_EQ(from, (n - 1) / 4);
    seen.insert({from, to});
  }
  EXPECT_EQ(seen.size(), 20u);
  TCodeTable from, to;
  ASSERT_TRUE(ConversionTables(17, from, to));
  EXPECT_EQ(from, cpWin1251);
  EXPECT_EQ(to, cpDos866);
  ASSERT_TRUE(ConversionTables(12, from, to));
  EXPECT_EQ(from, cpKoi8r);
  EXPECT_EQ(to, cpWin1251);
  EXPECT_FALSE(ConversionTables(0, from, to));
  EXPECT_FALSE(ConversionTables(21, from, to));
}

TEST(RusCharTest, EveryPairMapsEveryLetterToTheSamePosition) {
  for (int n = 1; n <= 20; ++n) {
    TCodeTable from, to;
    ASSERT_TRUE(ConversionTables(static_cast<uint8_t>(n), from, to));
    for (int p = 1; p <= 64; ++p) {
      std::string in(1, static_cast<char>(LetterCode(from, p)));
      EXPECT_EQ(ConvertString(in, static_cast<uint8_t>(n)), std::string(1, static_cast<char>(LetterCode(to, p))))
          << "conversion " << n << " position " << p;
    }
  }
}

TEST(RusCharTest, RoundTripThroughDosRestoresWindowsText) {
  // Russian letters and ASCII; other high bytes may be CP866 letters on the
  // way back, so they are not expected to survive.
  std::string text = "Price 1.50; ";
  for (int c = 0xC0; c <= 0xFF; ++c) text += static_cast<char>(c);
  std::string dos = ConvertString(text, kConvWin1251ToDos866);
  EXPECT_NE(dos, text);
  EXPECT_EQ(ConvertString(dos, 4), text);
}

// Decodes one byte of `charset` with glibc's iconv; empty when it fails.
std::string ToUtf8(const char* charset, uint8_t byte) {
  iconv_t cd = iconv_open("UTF-8", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  char in[1] = {static_cast<char>(byte)};
  char out[8] = {};
  char* inPtr = in;
  char* outPtr = out;
  size_t inLeft = 1, outLeft = sizeof out;
  size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return {};
  return std::string(out, sizeof out - outLeft);
}

TEST(RusCharTest, TablesAgreeWithIconvForEveryLetter) {
  const std::array<const char*, 5> charsets = {"CP866", "ISO-8859-5", "KOI8-R", "MACCYRILLIC", "CP1251"};
  // UTF-8 of А is D0 90; А..П are D0 90..9F, Р..Я D0 A0..AF, а..п D0 B0..BF, р..я D1 80..8F.
  auto expected = [](int p) {
    int cp = 0x410 + (p - 1);  // А..Я then а..я are contiguous in Unicode
    return std::string{static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
  };
  for (size_t t = 0; t < kAllTables.size(); ++t) {
    std::set<uint8_t> codes;
    for (int p = 1; p <= 64; ++p) {
      uint8_t code = LetterCode(kAllTables[t], p);
      codes.insert(code);
      EXPECT_EQ(ToUtf8(charsets[t], code), expected(p)) << charsets[t] << " position " << p;
    }
    EXPECT_EQ(codes.size(), 64u) << charsets[t];
  }
}

}  // namespace
}  // namespace tv::text
