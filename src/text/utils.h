// Hexadecimal text helpers for record text: two upper-case digits per byte,
// and the recoding of record text into the scale's code page.
#pragma once

#include <cstdint>
#include <string>

namespace tv::text {

// First two characters only; 0-9 and A-F count, anything else (lower case
// included) counts as 0.
uint8_t HexToByte(const std::string& hex);
std::string ByteToHex(uint8_t b);
std::string StrToHex(const std::string& bytes);
std::string StrToHexFixed(const std::string& bytes, int width, char pad, bool padRight);
// Windows-1251 to ISO 8859-5 (conversion 18).
std::string RecodeForScale(const std::string& text);
// High byte from characters 1-2, low byte from 3-4.
uint16_t HexToWord(const std::string& hex);

}  // namespace tv::text
