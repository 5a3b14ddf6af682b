#include "platform/fs.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/env.h"

namespace tv::platform {
namespace {

char Fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool MatchFrom(const char* p, const char* n) {
  // Iterative glob with backtracking on the last '*'.
  const char* star = nullptr;
  const char* mark = nullptr;
  while (*n) {
    if (*p == '*') {
      star = p++;
      mark = n;
    } else if (*p == '?' || (*p && Fold(*p) == Fold(*n))) {
      ++p;
      ++n;
    } else if (star) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == '\0';
}

}  // namespace

std::string StateHome() {
  const char* env = std::getenv("TOVALINK_HOME");
  if (env && *env) return env;
  // The packaged service's directory, whoever asks: a second store under a
  // user's home would be one no service reads.
  if (geteuid() == 0 || Env::Default()->DirectoryExists(kPackagedStateHome))
    return kPackagedStateHome;
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    passwd* pw = getpwuid(geteuid());
    home = pw ? pw->pw_dir : "/tmp";
  }
  return std::string(home) + "/.local/state/tovalink";
}

bool StateHomeChosen() {
  const char* env = std::getenv("TOVALINK_HOME");
  return env && *env;
}

std::string MapPath(const std::string& stored, const std::string& home) {
  if (stored.empty()) return stored;
  std::string p = stored;
  std::replace(p.begin(), p.end(), '\\', '/');
  if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
    std::string rest = p.substr(2);
    if (!rest.empty() && rest[0] != '/') rest = "/" + rest;
    return home + "/drive_" + Fold(p[0]) + rest;
  }
  return p;
}

std::string MapPath(const std::string& stored) { return MapPath(stored, StateHome()); }

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*" || pattern == "*") return true;
  if (MatchFrom(pattern.c_str(), name.c_str())) return true;
  // Windows lets a trailing ".*" match a name without any dot ("abc" ~ "a*.*").
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
      name.find('.') == std::string::npos)
    return MatchFrom(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
  return false;
}

int32_t DosTimeFromUnix(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  int year = tm.tm_year + 1900 - 1980;
  if (year < 0) return (1 << 21) | (1 << 16);  // 1980-01-01, the smallest stamp
  uint32_t v = (static_cast<uint32_t>(year) << 25) | (static_cast<uint32_t>(tm.tm_mon + 1) << 21) |
               (static_cast<uint32_t>(tm.tm_mday) << 16) | (static_cast<uint32_t>(tm.tm_hour) << 11) |
               (static_cast<uint32_t>(tm.tm_min) << 5) | static_cast<uint32_t>(tm.tm_sec / 2);
  return static_cast<int32_t>(v);
}

bool FindFiles(const std::string& hostPattern, std::vector<FoundFile>& out) {
  return Env::Default()->FindFiles(hostPattern, &out).ok();
}

bool FileExists(const std::string& path) { return Env::Default()->FileExists(path); }

bool DirectoryExists(const std::string& path) { return Env::Default()->DirectoryExists(path); }

bool RemoveFile(const std::string& path) { return Env::Default()->RemoveFile(path).ok(); }

std::string ExtractFileName(const std::string& path) {
  size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFilePath(const std::string& path) {
  size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

}  // namespace tv::platform
