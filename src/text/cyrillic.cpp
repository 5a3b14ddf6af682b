#include "text/cyrillic.h"

#include <array>

namespace tv::text {
namespace {

constexpr int kLetters = 64;
constexpr int kTables = 5;
using TLetterTable = std::array<uint8_t, kLetters>;

// Position p (0-based) is the same letter in every table: 0..31 are А..Я,
// 32..63 а..я.  Ё and ё are deliberately absent.
constexpr TLetterTable MakeDos866() {
  TLetterTable t{};
  for (int i = 0; i < 32; ++i) t[i] = static_cast<uint8_t>(0x80 + i);
  for (int i = 0; i < 16; ++i) t[32 + i] = static_cast<uint8_t>(0xA0 + i);
  for (int i = 0; i < 16; ++i) t[48 + i] = static_cast<uint8_t>(0xE0 + i);
  return t;
}

constexpr TLetterTable MakeIso88595() {
  TLetterTable t{};
  for (int i = 0; i < kLetters; ++i) t[i] = static_cast<uint8_t>(0xB0 + i);
  return t;
}

constexpr TLetterTable MakeKoi8r() {
  // KOI8-R keeps its letters in phonetic Latin order, not alphabetical.
  constexpr uint8_t capitals[32] = {0xE1, 0xE2, 0xF7, 0xE7, 0xE4, 0xE5, 0xF6, 0xFA,
                                    0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0xF0,
                                    0xF2, 0xF3, 0xF4, 0xF5, 0xE6, 0xE8, 0xE3, 0xFE,
                                    0xFB, 0xFD, 0xFF, 0xF9, 0xF8, 0xFC, 0xE0, 0xF1};
  TLetterTable t{};
  for (int i = 0; i < 32; ++i) {
    t[i] = capitals[i];
    t[32 + i] = static_cast<uint8_t>(capitals[i] - 0x20);
  }
  return t;
}

constexpr TLetterTable MakeMac() {
  TLetterTable t{};
  for (int i = 0; i < 32; ++i) t[i] = static_cast<uint8_t>(0x80 + i);
  for (int i = 0; i < 31; ++i) t[32 + i] = static_cast<uint8_t>(0xE0 + i);
  t[63] = 0xDF;  // я sits apart from the rest of the small letters
  return t;
}

constexpr TLetterTable MakeWin1251() {
  TLetterTable t{};
  for (int i = 0; i < kLetters; ++i) t[i] = static_cast<uint8_t>(0xC0 + i);
  return t;
}

constexpr std::array<TLetterTable, kTables> kTablesData = {MakeDos866(), MakeIso88595(), MakeKoi8r(),
                                                           MakeMac(), MakeWin1251()};

using TByteMap = std::array<uint8_t, 256>;

TByteMap BuildMap(int from, int to) {
  TByteMap map{};
  for (int c = 0; c < 256; ++c) map[c] = static_cast<uint8_t>(c);
  // Walk backwards so the first position holding a code wins, as a forward
  // search would (every code occurs once per table anyway).
  for (int p = kLetters - 1; p >= 0; --p) map[kTablesData[from][p]] = kTablesData[to][p];
  return map;
}

struct TMaps {
  std::array<std::array<TByteMap, kTables>, kTables> byPair;
  TMaps() {
    for (int f = 0; f < kTables; ++f)
      for (int t = 0; t < kTables; ++t) byPair[f][t] = BuildMap(f, t);
  }
};

const TMaps& Maps() {
  static const TMaps maps;
  return maps;
}

}  // namespace

bool ConversionTables(uint8_t conversion, TCodeTable& from, TCodeTable& to) {
  if (conversion < 1 || conversion > 20) return false;
  // Numbered by source first, then by the remaining targets in ascending order.
  int source = (conversion - 1) / 4;
  int k = (conversion - 1) % 4;
  from = static_cast<TCodeTable>(source);
  to = static_cast<TCodeTable>(k < source ? k : k + 1);
  return true;
}

uint8_t LetterCode(TCodeTable table, int position) {
  if (table >= kTables || position < 1 || position > kLetters) return 0;
  return kTablesData[table][position - 1];
}

uint8_t ConvertChar(uint8_t c, TCodeTable from, TCodeTable to) {
  if (from >= kTables || to >= kTables) return c;
  return Maps().byPair[from][to][c];
}

std::string ConvertString(const std::string& s, uint8_t conversion) {
  TCodeTable from = cpDos866, to = cpDos866;
  if (s.empty() || !ConversionTables(conversion, from, to)) return s;
  const TByteMap& map = Maps().byPair[from][to];
  std::string out = s;
  for (char& ch : out) ch = static_cast<char>(map[static_cast<uint8_t>(ch)]);
  return out;
}

}  // namespace tv::text
