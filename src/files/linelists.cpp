#include "files/linelists.h"

#include <algorithm>

#include "text/casefold.h"

namespace tv {
namespace {

constexpr size_t kCopyBlock = 16 * 1024;

// FoldChar1251 of every byte, looked up instead of called for each key byte.
struct TFoldTable {
  uint8_t folded[256];
  TFoldTable() {
    for (int c = 0; c < 256; ++c)
      folded[c] = static_cast<uint8_t>(text::FoldChar1251(static_cast<char>(c)));
  }
  uint8_t operator()(char c) const { return folded[static_cast<uint8_t>(c)]; }
};
const TFoldTable kFold;

uint32_t FoldedHash(std::string_view key) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (char c : key) {
    h ^= kFold(c);
    h *= 16777619u;
  }
  return h;
}

bool FoldedEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && kFold(a[i]) != kFold(b[i])) return false;
  }
  return true;
}

}  // namespace

char* TTextStore::Adopt(std::string text) {
  blocks_.push_back(std::move(text));
  return blocks_.back().data();
}

std::string_view TTextStore::Keep(std::string_view text) {
  // Appending within the capacity never moves the block's bytes.
  if (!copies_ || copies_->capacity() - copies_->size() < text.size()) {
    blocks_.emplace_back();
    copies_ = &blocks_.back();
    copies_->reserve(std::max(kCopyBlock, text.size()));
  }
  size_t at = copies_->size();
  copies_->append(text);
  return std::string_view(copies_->data() + at, text.size());
}

void TTextStore::Clear() {
  blocks_.clear();
  copies_ = nullptr;
}

void TValueTable::Set(std::string_view key, std::string_view value) {
  std::lock_guard<std::mutex> lock(mutex_);
  SetLocked(store_.Keep(key), store_.Keep(value));
}

void TValueTable::SetView(std::string_view key, std::string_view value) {
  std::lock_guard<std::mutex> lock(mutex_);
  SetLocked(key, value);
}

void TValueTable::SetLocked(std::string_view key, std::string_view value) {
  if ((entries_.size() + 1) * 2 > slots_.size()) Grow();
  const uint32_t hash = FoldedHash(key);
  uint32_t& slot = slots_[SlotOf(key, hash)];
  if (slot != 0) {
    entries_[slot - 1] = {key, value};  // the entry takes the new key's letter case
    return;
  }
  entries_.emplace_back(key, value);
  hashes_.push_back(hash);
  slot = static_cast<uint32_t>(entries_.size());
}

size_t TValueTable::SlotOf(std::string_view key, uint32_t hash) const {
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const uint32_t slot = slots_[i];
    if (slot == 0) return i;
    if (hashes_[slot - 1] == hash && FoldedEqual(entries_[slot - 1].first, key)) return i;
  }
}

void TValueTable::Grow() {
  slots_.assign(std::max<size_t>(16, slots_.size() * 2), 0);
  const size_t mask = slots_.size() - 1;
  for (size_t e = 0; e < entries_.size(); ++e) {
    size_t i = hashes_[e] & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = static_cast<uint32_t>(e + 1);
  }
}

bool TValueTable::Get(std::string_view key, std::string& value) const {
  const uint32_t hash = FoldedHash(key);
  std::lock_guard<std::mutex> lock(mutex_);
  if (slots_.empty()) return false;
  const uint32_t slot = slots_[SlotOf(key, hash)];
  if (slot == 0) return false;
  value.assign(entries_[slot - 1].second);
  return true;
}

void TValueTable::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
  hashes_.clear();
  slots_.clear();
  store_.Clear();
}

size_t TValueTable::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

std::vector<std::pair<std::string, std::string>> TValueTable::Entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [key, value] : entries_) out.emplace_back(key, value);
  return out;
}

void TLineLists::Clear() {
  aLines.clear();
  aLineNumbers.clear();
  dLineNumbers.clear();
  tLineNumbers.clear();
  iValues.Clear();
  dLines.clear();
  tLines.clear();
  skips = {};
  text.Clear();
}

}  // namespace tv
