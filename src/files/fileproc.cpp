#include "files/fileproc.h"

#include <limits>

#include "files/fileproc_util.h"
#include "platform/fs.h"

namespace tv {

namespace fileproc {

bool ParseInt32(const std::string& text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;  // leading blanks are allowed, as StrToInt does
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) return false;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(v);
  return true;
}

std::string TrimBlanks(const std::string& text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t first = 0, last = text.size();
  while (first < last && blank(text[first])) ++first;
  while (last > first && blank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::string DirectoryPart(const std::string& path) { return platform::ExtractFilePath(path); }

std::string UnsentFolder(const std::string& directoryPart) {
  const bool posix = !directoryPart.empty() && directoryPart.back() == '/';
  return directoryPart + "Unsent" + (posix ? '/' : '\\');
}

}  // namespace fileproc

CFiles::CFiles(const TSettingsHolder& settings, platform::Regional host, const platform::Clock& clock,
               platform::Env& env)
    : settings_(settings), host_(std::move(host)), clock_(clock), env_(env) {}

char CFiles::ListSeparator() const { return host_.listSeparator != 0 ? host_.listSeparator : ','; }

}  // namespace tv
