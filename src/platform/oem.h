// ANSI-to-OEM text conversion (CharToOemA's stand-in) as a host with Cyrillic
// regional settings does it: Windows-1251 in, CP866 out, for every byte.
// Characters CP866 lacks get the host's best-fit choice: an ASCII look-alike
// or the nearest Russian letter, "?" only where nothing fits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tv::platform {

uint8_t AnsiToOemChar(uint8_t c);
// Converts `len` bytes of `text` in place.
void CharToOemA(char* text, size_t len);
void CharToOemA(std::string& text);

}  // namespace tv::platform
