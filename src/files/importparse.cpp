#include "files/importparse.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace tv {
namespace {

constexpr char kCtrlZ = 0x1A;
constexpr size_t kFieldWidth = 15;
constexpr size_t kFixedGoodsLineLength = 132;
constexpr size_t kGoodsSample = 200;

// The first of LF, CR and Ctrl-Z (the bytes that end a run of line content)
// in p[from, to), or `to`.  Three memchr passes bounded by the line's LF
// beat a byte loop: most lines hold none of the three before their end.
size_t FindRunEnd(const char* p, size_t from, size_t to) {
  const char* begin = p + from;
  const char* end = p + to;
  if (const void* lf = std::memchr(begin, '\n', to - from)) end = static_cast<const char*>(lf);
  if (const void* cr = std::memchr(begin, '\r', static_cast<size_t>(end - begin)))
    end = static_cast<const char*>(cr);
  if (const void* z = std::memchr(begin, kCtrlZ, static_cast<size_t>(end - begin)))
    end = static_cast<const char*>(z);
  return static_cast<size_t>(end - p);
}

// A cursor over the bytes of a goods file, which it may rewrite: a field is
// returned as a view into them.  Lines end at LF or CR LF; a CR not followed
// by LF is dropped (the rest of the field moves up over it).  Ctrl-Z ends
// the file where a line would begin or while a line's rest is skipped;
// inside a field it only ends the field.
class TLineCursor {
 public:
  TLineCursor(char* data, size_t size) : data_(data), size_(size) {}

  size_t Pos() const { return pos_; }
  // True when a Ctrl-Z, not the end of the bytes, ended the reading; `inLine`
  // when it stood inside a line rather than where one begins.
  bool EndedByCtrlZ(bool& inLine) const {
    inLine = ended_;
    return ended_ || (pos_ < size_ && data_[pos_] == kCtrlZ);
  }

  // The next line's code; false at the end of the file.
  bool NextCode(char& code) {
    if (ended_ || pos_ >= size_ || data_[pos_] == kCtrlZ) return false;
    code = data_[pos_++];
    return true;
  }

  // Up to `max` bytes of the line; the line end is left in place.
  std::string_view ReadField(size_t max) {
    const size_t start = pos_;
    size_t length = 0;
    while (length < max && pos_ < size_) {
      const size_t limit = max - length < size_ - pos_ ? pos_ + (max - length) : size_;
      const size_t run = FindRunEnd(data_, pos_, limit);
      if (start + length != pos_) std::memmove(data_ + start + length, data_ + pos_, run - pos_);
      length += run - pos_;
      pos_ = run;
      if (pos_ >= size_ || length >= max) break;
      const char c = data_[pos_];
      if (c == '\n') break;
      if (c == kCtrlZ) {
        ++pos_;
        break;
      }
      if (pos_ + 1 < size_ && data_[pos_ + 1] == '\n') break;  // CR LF line end
      ++pos_;                                                  // a lone CR is dropped
    }
    return std::string_view(data_ + start, length);
  }

  std::string_view ReadContent() { return ReadField(std::string_view::npos); }

  // Past the next LF; a Ctrl-Z on the way ends the file.
  void SkipLine() {
    const char* at = data_ + pos_;
    const size_t left = size_ - pos_;
    const void* lf = std::memchr(at, '\n', left);
    const size_t lineEnd = lf ? static_cast<size_t>(static_cast<const char*>(lf) - at) : left;
    if (const void* z = std::memchr(at, kCtrlZ, lineEnd)) {
      pos_ += static_cast<size_t>(static_cast<const char*>(z) - at) + 1;
      ended_ = true;
      return;
    }
    pos_ += lf ? lineEnd + 1 : left;
  }

 private:
  char* const data_;
  const size_t size_;
  size_t pos_ = 0;
  bool ended_ = false;
};

// I line of the delimited layout: one character skipped, then key and value
// split at the first list separator.  False when the line holds no value.
bool FileDelimitedValue(TLineCursor& cursor, char separator, TValueTable& values,
                        std::string_view& key) {
  cursor.ReadField(1);
  std::string_view rest = cursor.ReadContent();
  size_t sep = rest.find(separator);
  if (sep == std::string_view::npos || sep + 1 >= rest.size()) return false;
  key = rest.substr(0, std::min(sep, kFieldWidth));
  values.SetView(key, rest.substr(sep + 1));
  return true;
}

std::string UnknownCode(char code) {
  char buf[48];
  const auto u = static_cast<unsigned char>(code);
  if (u >= 0x20 && u < 0x7F)
    std::snprintf(buf, sizeof buf, "unknown line code '%c'", code);
  else
    std::snprintf(buf, sizeof buf, "unknown line code 0x%02X", u);
  return buf;
}

// Counts a skipped line; its reason is only written out for the first, so
// a file of bad lines costs no allocation per line.
template <typename ReasonFn>
void SkipLine(TSkippedLines& skips, size_t lineNo, ReasonFn reason) {
  if (skips.skipped == 0)
    skips.Skip(lineNo, reason());
  else
    ++skips.skipped;
}

// Both layouts file D and T lines alike; they differ in which A lines they
// keep and in how an I line splits into key and value.  `lineNo` is the
// number of the line before the cursor's.  With `notes`, every line with a
// code gets a note.
size_t FileLines(TLineCursor& cursor, bool delimited, char separator, size_t lineNo,
                 TLineLists& lists, std::vector<TLineNote>* notes) {
  TSkippedLines& skips = lists.skips;
  char code = 0;
  auto filed = [&](size_t index, std::string_view key = {}) {
    if (notes) notes->push_back({lineNo, code, true, index, std::string(key), {}});
  };
  auto skip = [&](auto reason) {
    if (!notes) return SkipLine(skips, lineNo, reason);
    std::string text = reason();
    notes->push_back({lineNo, code, false, 0, {}, text});
    SkipLine(skips, lineNo, [&] { return text; });
  };
  while (cursor.NextCode(code)) {
    ++lineNo;
    if (code == '\n') continue;  // empty line
    if (code != '\r') ++skips.read;
    switch (code) {
      case 'A': {
        std::string_view content = cursor.ReadContent();
        if (skips.goodsLines++ == 0)
          skips.firstGoods = std::string(content.substr(0, kGoodsSample));
        if (delimited || content.size() == kFixedGoodsLineLength) {
          filed(lists.aLines.size());
          lists.aLines.push_back(content);
          lists.aLineNumbers.push_back(lineNo);
        } else {
          skip([&] {
            return "A line of " + std::to_string(content.size() + 1) +
                   " characters, the fixed layout needs " +
                   std::to_string(kFixedGoodsLineLength + 1);
          });
        }
        break;
      }
      case 'D':
        filed(lists.dLines.size());
        lists.dLines.push_back(cursor.ReadField(kFieldWidth));
        lists.dLineNumbers.push_back(lineNo);
        break;
      case 'I':
        if (delimited) {
          std::string_view key;
          if (FileDelimitedValue(cursor, separator, lists.iValues, key))
            filed(0, key);
          else
            skip([separator] {
              return std::string("I line without a '") + separator + "' after its key or without text";
            });
        } else {
          std::string_view key = cursor.ReadField(kFieldWidth);
          std::string_view value = cursor.ReadContent();
          if (!value.empty()) {
            lists.iValues.SetView(key, value);
            filed(0, key);
          } else {
            skip([] { return std::string("I line without text after its 15-character key"); });
          }
        }
        break;
      case 'T':
        filed(lists.tLines.size());
        lists.tLines.push_back(cursor.ReadContent());
        lists.tLineNumbers.push_back(lineNo);
        break;
      case '\r': break;  // empty line ended by CR LF
      default: skip([c = code] { return UnknownCode(c); }); break;
    }
    cursor.SkipLine();
  }
  return lineNo;
}

// Files the bytes the lists own from `data` on; the lines before them
// number `lineNo`.
bool FileOwnedBytes(char* data, size_t size, bool delimited, char separator, size_t lineNo,
                    TLineLists& lists, size_t& consumed, std::vector<TLineNote>* notes) {
  try {
    TLineCursor cursor(data, size);
    const size_t last = FileLines(cursor, delimited, separator, lineNo, lists, notes);
    consumed = cursor.Pos();
    bool inLine = false;
    if (cursor.EndedByCtrlZ(inLine) && lists.skips.ctrlZLine == 0) {
      lists.skips.ctrlZLine = inLine ? last : last + 1;
      lists.skips.ctrlZEnd = inLine ? consumed : consumed + 1;
    }
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

bool ReadImportLines(std::string_view bytes, size_t& pos, bool delimited, char separator,
                     TLineLists& lists, size_t linesBefore, std::vector<TLineNote>* notes) {
  try {
    if (pos >= bytes.size()) return true;
    // Line numbers count from the start of the bytes, also when reading
    // resumes in the middle.
    const size_t lineNo = linesBefore + static_cast<size_t>(std::count(bytes.begin(), bytes.begin() + pos, '\n'));
    const size_t size = bytes.size() - pos;
    char* data = lists.text.Adopt(std::string(bytes.substr(pos)));
    size_t consumed = 0;
    const bool stoppedBefore = lists.skips.ctrlZLine != 0;
    bool ok = FileOwnedBytes(data, size, delimited, separator, lineNo, lists, consumed, notes);
    if (!stoppedBefore && lists.skips.ctrlZLine != 0) lists.skips.ctrlZEnd += pos;
    pos += consumed;
    return ok;
  } catch (...) {
    return false;
  }
}

void ClearLineLists(TLineLists& lists) { lists.Clear(); }

bool ParseImportBytes(std::string bytes, int importType, char listSeparator, TLineLists& lists,
                      std::vector<TLineNote>* notes) {
  try {
    lists.Clear();
    const bool fixed = importType == itFixed;
    if (!fixed && importType != itDelimited && importType != itExtended) return false;
    const size_t size = bytes.size();
    char* data = lists.text.Adopt(std::move(bytes));
    size_t consumed = 0;
    bool ok = FileOwnedBytes(data, size, !fixed, listSeparator, 0, lists, consumed, notes);
    return ok && (!lists.aLines.empty() || !lists.dLines.empty() || !lists.tLines.empty());
  } catch (...) {
    return false;
  }
}

bool ParseImportBytes(std::string_view bytes, int importType, char listSeparator,
                      TLineLists& lists, std::vector<TLineNote>* notes) {
  try {
    return ParseImportBytes(std::string(bytes), importType, listSeparator, lists, notes);
  } catch (...) {
    return false;
  }
}

}  // namespace tv
