#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

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

bool WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string StateHome() {
  const char* env = std::getenv("TOVALINK_HOME");
  if (env && *env) return env;
  if (geteuid() == 0) return "/var/lib/tovalink";
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    passwd* pw = getpwuid(geteuid());
    home = pw ? pw->pw_dir : "/tmp";
  }
  return std::string(home) + "/.local/state/tovalink";
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

bool FindFiles(const std::string& hostPattern, std::vector<FoundFile>& out) {
  out.clear();
  std::string dir = ExtractFilePath(hostPattern);
  std::string mask = ExtractFileName(hostPattern);
  std::replace(dir.begin(), dir.end(), '\\', '/');
  if (dir.empty()) dir = "./";
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!WildcardMatch(mask, name)) continue;
    struct stat st{};
    if (stat((dir + name).c_str(), &st) != 0) continue;
    out.push_back(FoundFile{name, S_ISDIR(st.st_mode), st.st_mtime});
  }
  closedir(d);
  std::stable_sort(out.begin(), out.end(), [](const FoundFile& a, const FoundFile& b) {
    return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                        [](char x, char y) { return Fold(x) < Fold(y); });
  });
  return true;
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

bool FileDosTime(const std::string& path, int32_t& dosTime) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) return false;
  dosTime = DosTimeFromUnix(st.st_mtime);
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (DirectoryExists(p)) return true;
  size_t slash = p.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !ForceDirectories(p.substr(0, slash))) return false;
  return mkdir(p.c_str(), 0755) == 0 || (errno == EEXIST && DirectoryExists(p));
}

bool ReadWholeFile(const std::string& path, std::string& data) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  data.clear();
  struct stat st{};
  if (fstat(fd, &st) == 0 && st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data.data(), data.size());
  return close(fd) == 0 && ok;
}

bool AppendToFile(const std::string& path, const std::string& data) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ssize_t n;
  do {
    n = write(fd, data.data(), data.size());
  } while (n < 0 && errno == EINTR);
  bool ok = n == static_cast<ssize_t>(data.size());
  return close(fd) == 0 && ok;
}

bool SetLastWriteTime(const std::string& path, std::time_t t) {
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = t;
  times[1].tv_nsec = 0;
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool CopyFileNoOverwrite(const std::string& from, const std::string& to) {
  struct stat st{};
  if (stat(from.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (FileExists(to)) return false;
  std::string data;
  if (!ReadWholeFile(from, data)) return false;
  static std::atomic<unsigned> counter{0};
  std::string tmp = ExtractFilePath(to) + "." + ExtractFileName(to) + "." + std::to_string(getpid()) +
                    "." + std::to_string(counter++) + ".tmp";
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data.data(), data.size()) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && SetLastWriteTime(tmp, st.st_mtime);
  // link() refuses an existing target, which rename() would overwrite.
  ok = ok && link(tmp.c_str(), to.c_str()) == 0;
  unlink(tmp.c_str());
  return ok;
}

std::string ExtractFileName(const std::string& path) {
  size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFilePath(const std::string& path) {
  size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

}  // namespace tv::platform
