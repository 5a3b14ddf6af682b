// The parsed content of one goods file: the four line lists that CFiles
// fills and an export cycle encodes.  Lines and table entries are views into
// text the lists own (the file's bytes, taken over whole), so parsing a line
// neither copies it nor allocates for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tv {

// Text that views point into: buffers taken over whole and copies of
// single texts, in blocks that never move, so every view stays valid until
// Clear() (moving the store keeps them valid too).
class TTextStore {
 public:
  // Takes `text` over; its bytes may be rewritten in place, never grown.
  char* Adopt(std::string text);
  // Copies `text` into the store.
  std::string_view Keep(std::string_view text);
  void Clear();

 private:
  std::deque<std::string> blocks_;
  std::string* copies_ = nullptr;  // the block Keep appends to
};

// The key=value table of I lines.  Keys compare without regard to case
// (Windows-1251); setting a present key replaces the entry, key text
// included; a new key is added at the end.  Entries are views, found
// through an open-addressing index, so an entry costs no allocation of its
// own.  Every operation takes the table's lock: readers on several threads
// and a writer may share it.
class TValueTable {
 public:
  // Copies key and value into the table's own store.
  void Set(std::string_view key, std::string_view value);
  // Keeps the views themselves: their bytes must outlive the entry (the
  // parser's file buffer, owned by the same TLineLists).
  void SetView(std::string_view key, std::string_view value);
  // False when the key is absent; `value` is then left alone.
  bool Get(std::string_view key, std::string& value) const;
  void Clear();
  size_t Size() const;
  // The entries in table order (key, value), for tests and diagnostics.
  std::vector<std::pair<std::string, std::string>> Entries() const;

 private:
  void SetLocked(std::string_view key, std::string_view value);
  // The index slot that holds `key`, or the empty slot where it would go.
  size_t SlotOf(std::string_view key, uint32_t hash) const;
  void Grow();

  mutable std::mutex mutex_;
  std::vector<std::pair<std::string_view, std::string_view>> entries_;
  std::vector<uint32_t> hashes_;  // per entry, its folded key's hash
  std::vector<uint32_t> slots_;   // entry index + 1; 0 is an empty slot
  TTextStore store_;
};

// The lines of a file the reader could not use, for the service log.
struct TSkippedLines {
  size_t read = 0;       // lines with a code, blank lines not counted
  size_t skipped = 0;
  size_t firstLine = 0;  // 1-based number of the first skipped line
  std::string firstReason;
  // A lines met, filed or not, and the start of the first: a file whose A
  // lines all fail is more likely read with the wrong layout than wrong.
  size_t goodsLines = 0;
  std::string firstGoods;
  // Where a Ctrl-Z ended the reading: its line (0: none) and the offset
  // past it in the bytes that were read.
  size_t ctrlZLine = 0;
  size_t ctrlZEnd = 0;

  void Skip(size_t line, std::string reason) {
    if (skipped++ == 0) {
      firstLine = line;
      firstReason = std::move(reason);
    }
  }
  // Adds `count` lines skipped later on (by the encoder), the first of them
  // at `line`; the earlier first line keeps its reason.
  void Add(size_t count, size_t line, std::string reason) {
    if (count == 0) return;
    if (skipped == 0 || line < firstLine) {
      firstLine = line;
      firstReason = std::move(reason);
    }
    skipped += count;
  }
};

struct TLineLists {
  TLineLists() = default;
  // Views point into `text`: a copy would point into the original.
  TLineLists(const TLineLists&) = delete;
  TLineLists& operator=(const TLineLists&) = delete;

  // Copies `line` into the lists' own text, for lines made by a program
  // rather than read from a file.
  std::string_view Keep(std::string_view line) { return text.Keep(line); }
  void Clear();

  std::vector<std::string_view> aLines;
  std::vector<size_t> aLineNumbers;  // the file's line number of each A line
  std::vector<size_t> dLineNumbers;  // ... of each D line
  std::vector<size_t> tLineNumbers;  // ... of each T line
  TValueTable iValues;
  std::vector<std::string_view> dLines;
  std::vector<std::string_view> tLines;
  TSkippedLines skips;
  TTextStore text;  // what the lines point into
};

}  // namespace tv
