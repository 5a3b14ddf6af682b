// Unicode text of the single-byte Cyrillic code pages the scales and the
// export files use; the letter-for-letter transcoding between them lives
// in text/cyrillic.h.
#pragma once

#include <string>

namespace tv::text {

// The code page label texts arrive in: CP866 after the OEM conversion,
// ISO 8859-5 on SM700 scales, Windows-1251 when neither applies.
enum class TextCodePage { Cp866, Iso88595, Win1251 };

// Unicode text of single-byte `bytes` in `page`, as UTF-8.
std::string ToUtf8(const std::string& bytes, TextCodePage page);

}  // namespace tv::text
