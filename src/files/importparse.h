// Goods file parsing over bytes in memory: the fixed-width (ImportType 0)
// and delimited (1, 2) layouts filed into the four line lists.  No file is
// touched here, so the parser can be tested and fuzzed on plain bytes.
#pragma once

#include <cstddef>
#include <string_view>

#include "files/importtype.h"
#include "files/linelists.h"

namespace tv {

// Clears `lists` and files the lines of `bytes` by `importType`; any other
// type files nothing.  `listSeparator` splits I lines of the delimited
// layout.  True when the read completed and an A, D or T line was filed.
bool ParseImportBytes(std::string_view bytes, int importType, char listSeparator,
                      TLineLists& lists);

// Files the lines of `bytes` from `pos` to the end (or a Ctrl-Z where a line
// begins) into `lists`, which are not cleared; `pos` is left where reading
// stopped.  `linesBefore` counts the lines of the file that came before
// `bytes`, for the line numbers.  False when filing failed; what was filed
// before stays.
bool ReadImportLines(std::string_view bytes, size_t& pos, bool delimited, char listSeparator,
                     TLineLists& lists, size_t linesBefore = 0);

// Empties all four lists and the skipped-line count.
void ClearLineLists(TLineLists& lists);

}  // namespace tv
