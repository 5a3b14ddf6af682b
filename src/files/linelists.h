// The parsed content of one goods file: the four line lists that CFiles
// fills and the scale clients of a cycle read.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace tv {

// The key=value table of I lines.  Keys compare without regard to case;
// setting a present key replaces the entry, key text included; a new key is
// added at the end.  Every operation takes the table's lock, so the table
// may be read from several threads at once (the encoders of a cycle only
// read it; what they add they keep in a table of their own).
class TValueTable {
 public:
  void Set(const std::string& key, const std::string& value);
  // False when the key is absent.
  bool Get(const std::string& key, std::string& value) const;
  void Clear();
  size_t Size() const;
  // The entries in table order (key, value), for tests and diagnostics.
  std::vector<std::pair<std::string, std::string>> Entries() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> entries_;
  std::unordered_map<std::string, size_t> index_;  // folded key -> entry
};

// The lines of a file the reader could not use, for the service log.
struct TSkippedLines {
  size_t read = 0;       // lines with a code, blank lines not counted
  size_t skipped = 0;
  size_t firstLine = 0;  // 1-based number of the first skipped line
  std::string firstReason;

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
  std::vector<std::string> aLines;
  std::vector<size_t> aLineNumbers;  // the file's line number of each A line
  TValueTable iValues;
  std::vector<std::string> dLines;
  std::vector<std::string> tLines;
  TSkippedLines skips;
};

}  // namespace tv
