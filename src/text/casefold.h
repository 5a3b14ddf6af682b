// Case folding of single-byte Windows-1251 text, for keys that compare
// without regard to letter case (the I-line table of a goods file).
#pragma once

#include <string>

namespace tv::text {

// The small-letter form of one byte: ASCII A-Z and every Windows-1251
// Cyrillic capital (Ё, Ђ, Ї... included); other bytes are returned as they are.
char FoldChar1251(char c);
std::string FoldCase1251(const std::string& s);

}  // namespace tv::text
