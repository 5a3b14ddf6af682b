// Goods file bytes -> the four line lists, for each ImportType.  Properties: the
// lists equal those of a plain byte-at-a-time reading of the format; no
// entry holds a line end or Ctrl-Z; the fixed layout keeps only 132-byte A
// lines; D lines and I keys are at most 15 bytes; the answer says whether an
// A, D or T line was filed; LF and CR LF line ends read alike; whatever
// follows a Ctrl-Z at the start of a line is never read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "files/importparse.h"
#include "fuzzcheck.h"
#include "text/casefold.h"

namespace {

struct Parsed {
  bool ok = false;
  std::vector<std::string> a, d, t;
  std::vector<std::pair<std::string, std::string>> i;
  bool operator==(const Parsed&) const = default;
};

Parsed Parse(const std::string& bytes, int importType, char separator) {
  tv::TLineLists lists;
  lists.aLines.push_back("left over from the previous file");
  Parsed p;
  p.ok = tv::ParseImportBytes(bytes, importType, separator, lists);
  p.a = lists.aLines;
  p.d = lists.dLines;
  p.t = lists.tLines;
  p.i = lists.iValues.Entries();
  return p;
}

// The format read one byte at a time, as simply as it can be said.
class Reference {
 public:
  Reference(const std::string& d, int importType, char separator)
      : d_(d), type_(importType), sep_(separator) {}

  Parsed Read() {
    Parsed p;
    if (type_ < 0 || type_ > 2) return p;
    bool ended = false;
    while (!ended && pos_ < d_.size() && d_[pos_] != kCtrlZ) {
      const char code = d_[pos_++];
      if (code == '\n') continue;
      if (code == 'A') {
        std::string a = Field(std::string::npos);
        if (type_ != 0 || a.size() == 132) p.a.push_back(a);
      } else if (code == 'D') {
        p.d.push_back(Field(15));
      } else if (code == 'T') {
        p.t.push_back(Field(std::string::npos));
      } else if (code == 'I') {
        Value(p.i);
      }
      ended = SkipRest();
    }
    p.ok = !p.a.empty() || !p.d.empty() || !p.t.empty();
    return p;
  }

 private:
  static constexpr char kCtrlZ = 0x1A;

  // Up to `max` bytes; stops before LF or CR LF, drops a lone CR, ends at
  // (and consumes) a Ctrl-Z.
  std::string Field(size_t max) {
    std::string out;
    while (out.size() < max && pos_ < d_.size()) {
      const char c = d_[pos_];
      if (c == '\n') break;
      if (c == '\r' && pos_ + 1 < d_.size() && d_[pos_ + 1] == '\n') break;
      ++pos_;
      if (c == kCtrlZ) break;
      if (c != '\r') out += c;
    }
    return out;
  }

  void Value(std::vector<std::pair<std::string, std::string>>& table) {
    std::string key, value;
    if (type_ == 0) {
      key = Field(15);
      value = Field(std::string::npos);
    } else {
      Field(1);
      const std::string rest = Field(std::string::npos);
      const size_t at = rest.find(sep_);
      if (at == std::string::npos) return;
      key = rest.substr(0, std::min<size_t>(at, 15));
      value = rest.substr(at + 1);
    }
    if (value.empty()) return;
    for (auto& entry : table) {
      if (tv::text::FoldCase1251(entry.first) == tv::text::FoldCase1251(key)) {
        entry = {key, value};
        return;
      }
    }
    table.emplace_back(key, value);
  }

  // Past the next LF; true when a Ctrl-Z on the way ends the file.
  bool SkipRest() {
    while (pos_ < d_.size()) {
      const char c = d_[pos_++];
      if (c == '\n') return false;
      if (c == kCtrlZ) return true;
    }
    return false;
  }

  const std::string& d_;
  const int type_;
  const char sep_;
  size_t pos_ = 0;
};

bool Clean(const std::string& s) { return s.find_first_of(std::string("\r\n\x1A", 3)) == std::string::npos; }

void CheckLists(const Parsed& p, int importType, char separator) {
  const bool reads = importType >= 0 && importType <= 2;
  FUZZ_CHECK(p.ok == (!p.a.empty() || !p.d.empty() || !p.t.empty()));
  if (!reads) FUZZ_CHECK(p.a.empty() && p.d.empty() && p.t.empty() && p.i.empty());
  for (const auto& a : p.a) {
    FUZZ_CHECK(Clean(a));
    if (importType == 0) FUZZ_CHECK(a.size() == 132);
  }
  for (const auto& d : p.d) FUZZ_CHECK(Clean(d) && d.size() <= 15);
  for (const auto& t : p.t) FUZZ_CHECK(Clean(t));
  for (const auto& [key, value] : p.i) {
    FUZZ_CHECK(Clean(key) && Clean(value) && key.size() <= 15 && !value.empty());
    if (importType != 0) FUZZ_CHECK(key.find(separator) == std::string::npos);
  }
}

std::string WithCrLf(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int importType = data[0] & 0x03;
  const char separator = ",;\t|"[(data[0] >> 2) & 0x03];
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  const Parsed p = Parse(bytes, importType, separator);
  FUZZ_CHECK(p == Reference(bytes, importType, separator).Read());
  CheckLists(p, importType, separator);
  FUZZ_CHECK(Parse(WithCrLf(bytes), importType, separator) == p);
  FUZZ_CHECK(Parse(bytes + "\n\x1A" + bytes, importType, separator) == p);
  return 0;
}
