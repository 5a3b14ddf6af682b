// Reading numbers and fields out of goods-file text.  Numbers are read with
// separators given by the caller, never with the C library's locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/utils.h"

namespace tv {

// Without leading and trailing bytes up to and including space (control
// characters too), as the import format's "trimmed" means: text::Trim.
std::string_view TrimBlanks(std::string_view s);
// Without leading "0" characters.
std::string_view StripLeadingZeros(std::string_view s);

// A decimal integer in the signed 32-bit range: optional blanks around,
// optional sign, at least one digit, nothing else (text::StrToInt of the
// trimmed text).
bool ParseDecimalInt(std::string_view s, int32_t& value);
// As ParseDecimalInt; text that is not such a number gives 0.
int32_t DecimalIntOrZero(std::string_view s);

// A decimal number written with `decimalSeparator` (optional blanks around,
// optional sign, digits with at most one separator, optional exponent).
bool ParseDecimalNumber(std::string_view s, char decimalSeparator, double& value);

// The value of one character of record text read as a hexadecimal digit:
// 0-9, A-F and a-f count, anything else is 0.
inline uint8_t NibbleOf(char c) { return text::HexDigitValue(c, true); }

// Cuts the field that starts at `pos` and ends before the next `separator`.
// On success `field` holds it and `pos` points past the separator; without a
// separator after it nothing changes and the answer is false.
bool NextField(std::string_view s, size_t& pos, char separator, std::string_view& field);

}  // namespace tv
