#include "text/casefold.h"

#include <array>
#include <cstdint>

namespace tv::text {
namespace {

std::array<uint8_t, 256> BuildFoldMap() {
  std::array<uint8_t, 256> map{};
  for (int c = 0; c < 256; ++c) map[c] = static_cast<uint8_t>(c);
  for (int c = 'A'; c <= 'Z'; ++c) map[c] = static_cast<uint8_t>(c + 0x20);
  for (int c = 0xC0; c <= 0xDF; ++c) map[c] = static_cast<uint8_t>(c + 0x20);  // А..Я
  // The capitals outside the main block and their small letters.
  constexpr uint8_t pairs[][2] = {{0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C},
                                  {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2},
                                  {0xA3, 0xBC}, {0xA5, 0xB4}, {0xA8, 0xB8}, {0xAA, 0xBA},
                                  {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE}};
  for (const auto& p : pairs) map[p[0]] = p[1];
  return map;
}

}  // namespace

char FoldChar1251(char c) {
  static const std::array<uint8_t, 256> map = BuildFoldMap();
  return static_cast<char>(map[static_cast<uint8_t>(c)]);
}

std::string FoldCase1251(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = FoldChar1251(c);
  return out;
}

}  // namespace tv::text
