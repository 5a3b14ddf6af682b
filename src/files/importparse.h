// Goods file parsing over bytes in memory: the fixed-width (ImportType 0)
// and delimited (1, 2) layouts filed into the four line lists.  No file is
// touched here, so the parser can be tested and fuzzed on plain bytes.
//
// The lists take the bytes over (or one copy of them) and every line and
// table entry is a view into them: no line is copied and none allocates.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "files/importtype.h"
#include "files/linelists.h"

namespace tv {

// What became of one line of a goods file, for tools that explain a file.
struct TLineNote {
  size_t line = 0;     // 1-based
  char code = 0;
  bool filed = false;
  size_t index = 0;    // filed A, D and T lines: the entry's index in its list
  std::string key;     // filed I lines: the key the text went under
  std::string reason;  // skipped lines: why
};

// Clears `lists` and files the lines of `bytes` by `importType`; any other
// type files nothing.  `listSeparator` splits I lines of the delimited
// layout.  True when the read completed and an A, D or T line was filed.
// With `notes`, one note per line that has a code is appended to it.
bool ParseImportBytes(std::string bytes, int importType, char listSeparator, TLineLists& lists,
                      std::vector<TLineNote>* notes = nullptr);
bool ParseImportBytes(std::string_view bytes, int importType, char listSeparator,
                      TLineLists& lists, std::vector<TLineNote>* notes = nullptr);
inline bool ParseImportBytes(const char* bytes, int importType, char listSeparator,
                             TLineLists& lists, std::vector<TLineNote>* notes = nullptr) {
  return ParseImportBytes(std::string_view(bytes), importType, listSeparator, lists, notes);
}

// Files the lines of `bytes` from `pos` to the end (or a Ctrl-Z where a line
// begins) into `lists`, which are not cleared and keep a copy of those
// bytes; `pos` is left where reading stopped.  `linesBefore` counts the
// lines of the file that came before `bytes`, for the line numbers.  False
// when filing failed; what was filed before stays.
bool ReadImportLines(std::string_view bytes, size_t& pos, bool delimited, char listSeparator,
                     TLineLists& lists, size_t linesBefore = 0,
                     std::vector<TLineNote>* notes = nullptr);

// Empties all four lists and the skipped-line count.
void ClearLineLists(TLineLists& lists);

}  // namespace tv
