// Text conversions and hex helpers.  Properties: conversions are byte maps
// that keep the length, copy for numbers outside 1..20, convert exactly the
// 64 letters of the source table and are undone by the reverse conversion;
// hex text is upper case, twice as long and reads back to the bytes it came
// from; the fixed-width form is the plain form cut or padded; case folding
// keeps the length and is idempotent.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzzcheck.h"
#include "text/cyrillic.h"
#include "text/casefold.h"
#include "text/utils.h"

namespace {

using namespace tv::text;

int LetterPosition(TCodeTable table, uint8_t c) {
  for (int p = 1; p <= 64; ++p)
    if (LetterCode(table, p) == c) return p;
  return 0;
}

// The conversion number that goes from `from` to `to`.
uint8_t ConversionNumber(TCodeTable from, TCodeTable to) {
  for (uint8_t n = 1; n <= 20; ++n) {
    TCodeTable f, t;
    if (ConversionTables(n, f, t) && f == from && t == to) return n;
  }
  return 0;
}

void CheckConversion(const std::string& s, uint8_t number) {
  const std::string out = ConvertString(s, number);
  FUZZ_CHECK(out.size() == s.size());
  TCodeTable from, to;
  if (!ConversionTables(number, from, to)) {
    FUZZ_CHECK(number == 0 || number > 20);
    FUZZ_CHECK(out == s);
    return;
  }
  FUZZ_CHECK(from != to);
  const uint8_t back = ConversionNumber(to, from);
  FUZZ_CHECK(back != 0);
  const std::string there = ConvertString(out, back);
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<uint8_t>(s[i]);
    const auto o = static_cast<uint8_t>(out[i]);
    FUZZ_CHECK(o == ConvertChar(c, from, to));
    const int p = LetterPosition(from, c);
    if (p != 0) {
      FUZZ_CHECK(o == LetterCode(to, p));
      FUZZ_CHECK(static_cast<uint8_t>(there[i]) == c);  // a letter comes back
    } else {
      FUZZ_CHECK(o == c);  // everything else passes
    }
  }
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

void CheckHex(const std::string& s, int width, char pad, bool padRight) {
  const std::string hex = StrToHex(s);
  FUZZ_CHECK(hex.size() == 2 * s.size());
  FUZZ_CHECK(hex.find_first_not_of("0123456789ABCDEF") == std::string::npos);
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<uint8_t>(s[i]);
    FUZZ_CHECK(ByteToHex(b) == hex.substr(2 * i, 2));
    FUZZ_CHECK(HexToByte(hex.substr(2 * i, 2)) == b);
    if (i + 1 < s.size())
      FUZZ_CHECK(HexToWord(hex.substr(2 * i, 4)) == b * 256 + static_cast<uint8_t>(s[i + 1]));
  }

  // Any text: the first two characters, each digit or 0.
  const int first = s.size() > 0 ? DigitValue(s[0]) : 0;
  const int value = s.size() > 1 ? first * 16 + DigitValue(s[1]) : first;
  FUZZ_CHECK(HexToByte(s) == value);

  const std::string fixed = StrToHexFixed(s, width, pad, padRight);
  const size_t w = width > 0 ? static_cast<size_t>(width) : 0;
  FUZZ_CHECK(fixed.size() == w);
  const size_t kept = std::min(w, hex.size());
  const std::string fill(w - kept, pad);
  FUZZ_CHECK(fixed == (padRight ? hex.substr(0, kept) + fill : fill + hex.substr(0, kept)));
}

void CheckFold(const std::string& s) {
  const std::string folded = FoldCase1251(s);
  FUZZ_CHECK(folded.size() == s.size());
  FUZZ_CHECK(FoldCase1251(folded) == folded);
  for (size_t i = 0; i < s.size(); ++i) FUZZ_CHECK(folded[i] == FoldChar1251(s[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t number = data[0];
  // Widths past the text's hex length, and the negative ones, matter too.
  const int width = static_cast<int8_t>(data[1]) * 3;
  const char pad = static_cast<char>(data[2] & 0x7F);
  const bool padRight = (data[2] & 0x80) != 0;
  const std::string s(reinterpret_cast<const char*>(data + 3), size - 3);

  CheckConversion(s, number);
  FUZZ_CHECK(RecodeForScale(s) == ConvertString(s, kConvWin1251ToIso));
  CheckHex(s, width, pad, padRight);
  CheckFold(s);
  return 0;
}
