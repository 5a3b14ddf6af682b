#include "files/importparse.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace tv {
namespace {

constexpr char kCtrlZ = 0x1A;
constexpr size_t kFieldWidth = 15;
constexpr size_t kFixedGoodsLineLength = 132;

// A cursor over the bytes of a goods file.  Lines end at LF or CR LF; a CR
// not followed by LF is dropped.  Ctrl-Z ends the file where a line would
// begin or while a line's rest is skipped; inside a field it only ends the
// field.
class TLineCursor {
 public:
  TLineCursor(std::string_view data, size_t& pos) : data_(data), pos_(pos) {}

  // The next line's code; false at the end of the file.
  bool NextCode(char& code) {
    if (ended_ || pos_ >= data_.size() || data_[pos_] == kCtrlZ) return false;
    code = data_[pos_++];
    return true;
  }

  // Up to `max` bytes of the line; the line end is left in place.
  std::string ReadField(size_t max) {
    std::string out;
    const size_t n = data_.size();
    while (out.size() < max && pos_ < n) {
      size_t run = pos_;
      size_t limit = max - out.size() < n - pos_ ? pos_ + (max - out.size()) : n;
      while (run < limit && data_[run] != '\n' && data_[run] != '\r' && data_[run] != kCtrlZ) ++run;
      out.append(data_, pos_, run - pos_);
      pos_ = run;
      if (pos_ >= n || out.size() >= max) break;
      char c = data_[pos_];
      if (c == '\n') break;
      if (c == kCtrlZ) {
        ++pos_;
        break;
      }
      if (pos_ + 1 < n && data_[pos_ + 1] == '\n') break;  // CR LF line end
      ++pos_;                                               // a lone CR is dropped
    }
    return out;
  }

  std::string ReadContent() { return ReadField(std::string::npos); }

  // Past the next LF; a Ctrl-Z on the way ends the file.
  void SkipLine() {
    const size_t n = data_.size();
    while (pos_ < n) {
      char c = data_[pos_++];
      if (c == '\n') return;
      if (c == kCtrlZ) {
        ended_ = true;
        return;
      }
    }
  }

 private:
  std::string_view data_;
  size_t& pos_;
  bool ended_ = false;
};

// I line of the delimited layout: one character skipped, then key and value
// split at the first list separator.  False when the line holds no value.
bool FileDelimitedValue(TLineCursor& cursor, char separator, TValueTable& values) {
  cursor.ReadField(1);
  std::string rest = cursor.ReadContent();
  size_t sep = rest.find(separator);
  if (sep == std::string::npos || sep + 1 >= rest.size()) return false;
  values.Set(rest.substr(0, std::min(sep, kFieldWidth)), rest.substr(sep + 1));
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

}  // namespace

// Both layouts file D and T lines alike; they differ in which A lines they
// keep and in how an I line splits into key and value.
bool ReadImportLines(std::string_view bytes, size_t& pos, bool delimited, char separator,
                     TLineLists& lists, size_t linesBefore) {
  try {
    // Line numbers count from the start of the bytes, also when reading
    // resumes in the middle.
    size_t lineNo = linesBefore + static_cast<size_t>(std::count(
                                      bytes.begin(), bytes.begin() + std::min(pos, bytes.size()), '\n'));
    TSkippedLines& skips = lists.skips;
    TLineCursor cursor(bytes, pos);
    char code = 0;
    while (cursor.NextCode(code)) {
      ++lineNo;
      if (code == '\n') continue;  // empty line
      if (code != '\r') ++skips.read;
      switch (code) {
        case 'A': {
          std::string content = cursor.ReadContent();
          if (delimited || content.size() == kFixedGoodsLineLength) {
            lists.aLines.push_back(std::move(content));
            lists.aLineNumbers.push_back(lineNo);
          } else
            skips.Skip(lineNo, "A line of " + std::to_string(content.size() + 1) +
                                   " characters, the fixed layout needs " + std::to_string(kFixedGoodsLineLength + 1));
          break;
        }
        case 'D':
          lists.dLines.push_back(cursor.ReadField(kFieldWidth));
          break;
        case 'I':
          if (delimited) {
            if (!FileDelimitedValue(cursor, separator, lists.iValues))
              skips.Skip(lineNo, "I line without a separator or text");
          } else {
            std::string key = cursor.ReadField(kFieldWidth);
            std::string value = cursor.ReadContent();
            if (!value.empty())
              lists.iValues.Set(key, value);
            else
              skips.Skip(lineNo, "I line without text");
          }
          break;
        case 'T':
          lists.tLines.push_back(cursor.ReadContent());
          break;
        case '\r':
          break;  // empty line ended by CR LF
        default:
          skips.Skip(lineNo, UnknownCode(code));
          break;
      }
      cursor.SkipLine();
    }
    return true;
  } catch (...) {
    return false;
  }
}

void ClearLineLists(TLineLists& lists) {
  lists.aLines.clear();
  lists.aLineNumbers.clear();
  lists.iValues.Clear();
  lists.dLines.clear();
  lists.tLines.clear();
  lists.skips = {};
}

bool ParseImportBytes(std::string_view bytes, int importType, char listSeparator,
                      TLineLists& lists) {
  try {
    ClearLineLists(lists);
    size_t pos = 0;
    bool ok = true;
    if (importType == itFixed) {
      ok = ReadImportLines(bytes, pos, false, listSeparator, lists);
    } else if (importType == itDelimited || importType == itExtended) {
      ok = ReadImportLines(bytes, pos, true, listSeparator, lists);
    }
    return ok && (!lists.aLines.empty() || !lists.dLines.empty() || !lists.tLines.empty());
  } catch (...) {
    return false;
  }
}

}  // namespace tv
