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
// added at the end.  Every operation takes the table's lock, because ImportType
// 2 scale clients write it while other clients of the batch read it.
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
};

struct TLineLists {
  std::vector<std::string> aLines;
  TValueTable iValues;
  std::vector<std::string> dLines;
  std::vector<std::string> tLines;
  TSkippedLines skips;
};

}  // namespace tv
