#include "config/storedvalues.h"

#include <algorithm>
#include <cctype>

namespace tv::config {
namespace {

char FoldChar(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string Fold(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = FoldChar(c);
  return r;
}

bool SameKey(std::string_view a, std::string_view b) {
  return Fold(platform::NormaliseKeyPath(std::string(a))) == Fold(platform::NormaliseKeyPath(std::string(b)));
}

// A decimal number as the store names it: digits without leading zeros.
bool IsNumber(std::string_view s) {
  if (s.empty() || (s.size() > 1 && s[0] == '0')) return false;
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// `name` against an entry name whose '#' stands for a number.
bool Matches(std::string_view pattern, std::string_view name) {
  const size_t hash = pattern.find('#');
  if (hash == std::string_view::npos) return Fold(pattern) == Fold(name);
  const std::string_view head = pattern.substr(0, hash);
  return name.size() > head.size() && Fold(name.substr(0, head.size())) == Fold(head) &&
         IsNumber(name.substr(head.size()));
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The trailing digits of a misspelt numbered name, so "Scael3" is measured
// against "Scale3".
std::string TrailingNumber(std::string_view name) {
  size_t start = name.size();
  while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
  return start == name.size() ? "1" : std::string(name.substr(start));
}

// The entry's name with its '#' spelt as `digits`.
std::string Spell(const StoredValue& v, const std::string& digits) {
  std::string name(v.name);
  const size_t hash = name.find('#');
  if (hash != std::string::npos) name.replace(hash, 1, digits);
  return name;
}

}  // namespace

std::string NameFor(const StoredValue& v, int64_t n) { return Spell(v, std::to_string(n)); }

std::vector<const StoredValue*> ValuesOf(std::string_view key) {
  std::vector<const StoredValue*> out;
  for (const StoredValue* v : kStoredValues)
    if (SameKey(v->key, key)) out.push_back(v);
  return out;
}

const StoredValue* FindStoredValue(std::string_view key, std::string_view name) {
  for (const StoredValue* v : ValuesOf(key))
    if (Matches(v->name, name)) return v;
  return nullptr;
}

std::string NearestName(std::string_view key, std::string_view name) {
  const std::string folded = Fold(name);
  // Close means at most a third of the name wrong, and at least one edit.
  size_t best = std::max<size_t>(1, name.size() / 3) + 1;
  std::string nearest;
  for (const StoredValue* v : ValuesOf(key)) {
    const std::string candidate = Spell(*v, TrailingNumber(name));
    const size_t d = EditDistance(folded, Fold(candidate));
    if (d < best) {
      best = d;
      nearest = candidate;
    }
  }
  return nearest;
}

}  // namespace tv::config
