#include "files/linelists.h"

#include "text/casefold.h"

namespace tv {

void TValueTable::Set(const std::string& key, const std::string& value) {
  std::string folded = text::FoldCase1251(key);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = index_.find(folded);
  if (it != index_.end()) {
    entries_[it->second] = {key, value};  // the entry takes the new key's letter case
    return;
  }
  index_.emplace(std::move(folded), entries_.size());
  entries_.emplace_back(key, value);
}

bool TValueTable::Get(const std::string& key, std::string& value) const {
  std::string folded = text::FoldCase1251(key);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = index_.find(folded);
  if (it == index_.end()) return false;
  value = entries_[it->second].second;
  return true;
}

void TValueTable::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
  index_.clear();
}

size_t TValueTable::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

std::vector<std::pair<std::string, std::string>> TValueTable::Entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_;
}

}  // namespace tv
