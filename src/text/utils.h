// Text helpers shared by every unit: hexadecimal record text (two
// upper-case digits per byte), the recoding of record text into the
// scale's code page, and the service's one trim and one integer reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tv::text {

// The value of one hexadecimal digit: 0-9 and A-F, and a-f only when
// `lowerCase` is set; anything else counts as 0, so a damaged digit cannot
// abort a record.
uint8_t HexDigitValue(char c, bool lowerCase = false);
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

// Without leading and trailing bytes up to and including the space
// (control characters too), as Delphi's Trim.  The view points into `s`.
std::string_view Trim(std::string_view s);
// A decimal integer as Delphi's StrToInt reads it: optional leading
// spaces, an optional sign, at least one digit and nothing after, within
// the signed 32-bit range.  `value` is left alone when false.
bool StrToInt(std::string_view s, int32_t& value);
// A port given on a command line: decimal digits only, 1 to 65535.
bool ParsePort(std::string_view s, uint16_t& port);

}  // namespace tv::text
