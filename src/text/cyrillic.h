// Letter-by-letter conversion between five single-byte Cyrillic code pages
// (CP866, ISO 8859-5, KOI8-R, Mac Cyrillic, Windows-1251).  Only the 64
// basic Russian letters are converted; every other byte (Ё and ё included)
// passes unchanged.
#pragma once

#include <cstdint>
#include <string>

namespace tv::text {

enum TCodeTable : uint8_t { cpDos866 = 0, cpIso88595 = 1, cpKoi8r = 2, cpMac = 3, cpWin1251 = 4 };

// Conversion numbers 1..20 select (source, target) pairs; see cyrillic.cpp.
constexpr uint8_t kConvDos866ToIso = 1;
constexpr uint8_t kConvWin1251ToDos866 = 17;
constexpr uint8_t kConvWin1251ToIso = 18;

// The (source, target) pair of a conversion number; false outside 1..20.
bool ConversionTables(uint8_t conversion, TCodeTable& from, TCodeTable& to);
// The code of the letter at `position` (1..32 А..Я, 33..64 а..я) in `table`;
// 0 when either is out of range.
uint8_t LetterCode(TCodeTable table, int position);

// One byte from table `from` to table `to`.
uint8_t ConvertChar(uint8_t c, TCodeTable from, TCodeTable to);
// A copy of `s` with every letter converted; numbers outside 1..20 copy.
std::string ConvertString(const std::string& s, uint8_t conversion);

}  // namespace tv::text
