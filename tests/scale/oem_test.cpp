// The host's ANSI-to-OEM conversion against glibc's own CP1251 -> CP866.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <optional>

#include "platform/oem.h"

namespace tv::platform {
namespace {

std::optional<uint8_t> Iconv(uint8_t in) {
  iconv_t cd = iconv_open("CP866", "CP1251");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  char src = static_cast<char>(in), dst = 0;
  char* pin = &src;
  char* pout = &dst;
  size_t inLeft = 1, outLeft = 1;
  size_t r = iconv(cd, &pin, &inLeft, &pout, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || outLeft != 0) return std::nullopt;
  return static_cast<uint8_t>(dst);
}

TEST(CharToOemTest, AgreesWithIconvWhereCp866HasTheCharacter) {
  ASSERT_TRUE(Iconv('A').has_value()) << "glibc lacks CP1251/CP866";
  int mapped = 0;
  for (int b = 0; b < 256; ++b) {
    std::optional<uint8_t> expected = Iconv(static_cast<uint8_t>(b));
    if (!expected) continue;
    ++mapped;
    EXPECT_EQ(AnsiToOemChar(static_cast<uint8_t>(b)), *expected) << "byte " << b;
  }
  EXPECT_GE(mapped, 128 + 64 + 12);  // ASCII, the Russian letters, Ё ё Є є Ї ї Ў ў ° · № ¤ nbsp
}

TEST(CharToOemTest, BestFitForCharactersCp866Lacks) {
  struct Case {
    uint8_t ansi, oem;
  } cases[] = {
      {0x85, '.'},  {0x96, '-'},  {0x97, '-'},  {0x93, '"'},  {0x94, '"'}, {0x91, '\''},
      {0xAB, '<'},  {0xBB, '>'},  {0xB2, 'I'},  {0xB3, 'i'},  {0xA3, 'J'}, {0xBD, 'S'},
      {0xA5, 0x83}, {0xB4, 0xA3}, {0x8D, 0x8A}, {0x95, 0xF9}, {0xA7, 0x15}, {0x98, '?'},
  };
  for (const Case& k : cases) EXPECT_EQ(AnsiToOemChar(k.ansi), k.oem) << int{k.ansi};
  // Every byte that iconv cannot carry still becomes a printable character.
  for (int b = 0x80; b < 0x100; ++b) {
    if (Iconv(static_cast<uint8_t>(b))) continue;
    uint8_t o = AnsiToOemChar(static_cast<uint8_t>(b));
    EXPECT_TRUE(o >= 0x14 && o != 0x7F) << "byte " << b;
  }
}

TEST(CharToOemTest, ConvertsInPlace) {
  std::string s = "\xCC\xEE\xEB\xEE\xEA\xEE 1,5\x0D\x0C";
  CharToOemA(s);
  EXPECT_EQ(s, "\x8C\xAE\xAB\xAE\xAA\xAE 1,5\x0D\x0C");
}

}  // namespace
}  // namespace tv::platform
