// Small helpers shared by the fileproc units; not part of CFiles' interface.
#pragma once

#include <cstdint>
#include <string>

namespace tv::fileproc {

// A decimal integer with optional leading blanks and sign, within 32 bits,
// filling the whole text.
bool ParseInt32(const std::string& text, int32_t& value);
// The text without leading and trailing blanks and control characters.
std::string TrimBlanks(const std::string& text);
// The stored form's directory part: up to and including the last '\' or '/'.
std::string DirectoryPart(const std::string& path);

// The Unsent folder of a directory part, with the separator that part
// already uses: "C:\X\" gives "C:\X\Unsent\" and "/x/" gives "/x/Unsent/".
std::string UnsentFolder(const std::string& directoryPart);

}  // namespace tv::fileproc
