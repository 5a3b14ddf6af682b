// The host's file system behind Env.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>  // renameat2
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/env.h"
#include "platform/fault_env.h"
#include "platform/fault_vfs.h"
#include "platform/log.h"
#include "platform/oserror.h"

namespace tv::platform {
namespace {

// Closes on every path out of an operation.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now, so that a failing close (delayed write errors) is seen.
  int Close() {
    int r = ::close(fd_);
    fd_ = -1;
    return r;
  }

 private:
  int fd_;
};

ssize_t WriteOnce(int fd, const char* data, size_t len) {
  ssize_t n;
  do {
    n = ::write(fd, data, len);
  } while (n < 0 && errno == EINTR);
  return n;
}

// 0, or the errno of the write that failed.  A write that stops short
// without an error (disk full, file size limit) is retried to learn why.
int WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = WriteOnce(fd, data, len);
    if (n < 0) return errno;
    if (n == 0) return EIO;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return 0;
}

FileTime FromTimespec(const timespec& ts) {
  auto since = std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
  return FileTime(std::chrono::duration_cast<FileTime::duration>(since));
}

timespec ToTimespec(FileTime t) {
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  if (ts.tv_nsec < 0) {
    ts.tv_nsec += 1000000000;
    --ts.tv_sec;
  }
  return ts;
}

bool NameLess(const FoundFile& a, const FoundFile& b) {
  auto fold = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                      [&](char x, char y) { return fold(x) < fold(y); });
}

class PosixSequentialFile : public SequentialFile {
 public:
  PosixSequentialFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

  Status Read(size_t n, std::string* chunk) override {
    chunk->resize(n);
    ssize_t r;
    do {
      r = ::read(fd_.get(), chunk->data(), n);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
      int err = errno;
      chunk->clear();
      return Status::IOError("read", path_, err);
    }
    chunk->resize(static_cast<size_t>(r));
    return Status::OK();
  }

 private:
  std::string path_;
  FileDescriptor fd_;
};

class PosixEnv : public Env {
 public:
  Status ReadFile(const std::string& path, std::string* data) override {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return Status::IOError("open", path, errno);
    data->clear();
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && st.st_size > 0) data->reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
      ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Status::IOError("read", path, errno);
      if (n == 0) return Status::OK();
      data->append(buffer, static_cast<size_t>(n));
    }
  }

  // A FIFO would block the open and a link could lead anywhere: neither is
  // opened as a file to deliver.
  Status NewSequentialFile(const std::string& path, std::unique_ptr<SequentialFile>* file) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
      if (errno == ELOOP) return Status::InvalidArgument("open", path, "is a symbolic link");
      return Status::IOError("open", path, errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      const int err = errno;
      ::close(fd);
      return Status::IOError("stat", path, err);
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      return Status::InvalidArgument("open", path, "not a regular file");
    }
    // Reads of a regular file never block anyway; the flag only kept the open
    // from hanging.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *file = std::make_unique<PosixSequentialFile>(path, fd);
    return Status::OK();
  }

  Status WriteFile(const std::string& path, const std::string& data) override {
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.valid()) return Status::IOError("create", path, errno);
    if (int err = WriteAll(fd.get(), data.data(), data.size())) return Status::IOError("write", path, err);
    if (fd.Close() != 0) return Status::IOError("close", path, errno);
    return Status::OK();
  }

  Status AppendFile(const std::string& path, const std::string& data) override {
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.valid()) return Status::IOError("open", path, errno);
    ssize_t n = WriteOnce(fd.get(), data.data(), data.size());
    if (n == static_cast<ssize_t>(data.size())) {
      if (fd.Close() != 0) return Status::IOError("close", path, errno);
      return Status::OK();
    }
    if (n < 0) return Status::IOError("append", path, errno);
    // Stopped short: writing the rest tells why; whatever got in is cut off
    // again, so the file never ends in half a line.
    const off_t start = ::lseek(fd.get(), 0, SEEK_CUR) - n;
    int err = WriteAll(fd.get(), data.data() + n, data.size() - static_cast<size_t>(n));
    if (err == 0) {
      if (fd.Close() != 0) return Status::IOError("close", path, errno);
      return Status::OK();
    }
    if (start >= 0 && ::ftruncate(fd.get(), start) != 0) {
      LogError("append %s: part of a line left in the file: %s", path.c_str(), LastOsErrorText().c_str());
    }
    return Status::IOError("append", path, err);
  }

  Status WriteNewFile(const std::string& path, const std::string& data) override {
    // Copies of the back office's files are no one else's business.
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640));
    if (!fd.valid()) return Status::IOError("create", path, errno);
    Status s;
    if (int err = WriteAll(fd.get(), data.data(), data.size())) {
      s = Status::IOError("write", path, err);
    } else if (::fsync(fd.get()) != 0) {
      s = Status::IOError("sync", path, errno);
    } else if (fd.Close() != 0) {
      s = Status::IOError("close", path, errno);
    }
    if (!s.ok()) ::unlink(path.c_str());
    return s;
  }

  Status LinkFile(const std::string& from, const std::string& to) override {
    if (::link(from.c_str(), to.c_str()) != 0) return Status::IOError("link", to, errno);
    return Status::OK();
  }

  Status RenameFile(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return Status::IOError("rename", from, errno);
    return Status::OK();
  }

  // With fs.protected_hardlinks a link of another user's file fails, so a
  // link is the fallback only where the file system cannot rename so.
  Status MoveFileNoReplace(const std::string& from, const std::string& to) override {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
      return Status::OK();
    const int err = errno;
    if (err != EINVAL && err != ENOSYS) return Status::IOError("rename", to, err);
    if (::link(from.c_str(), to.c_str()) != 0) return Status::IOError("link", to, errno);
    if (::unlink(from.c_str()) == 0) return Status::OK();
    const int unlinkErr = errno;
    ::unlink(to.c_str());  // one name only: the file stays where it was
    return Status::IOError("remove", from, unlinkErr);
  }

  Status RemoveFile(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return Status::IOError("remove", path, errno);
    return Status::OK();
  }

  Status FindFiles(const std::string& pattern, std::vector<FoundFile>* found) override {
    found->clear();
    std::string dir = ExtractFilePath(pattern);
    const std::string mask = ExtractFileName(pattern);
    std::replace(dir.begin(), dir.end(), '\\', '/');
    if (dir.empty()) dir = "./";
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return Status::IOError("list", dir, errno);
    Status s;
    for (;;) {
      errno = 0;
      dirent* e = ::readdir(d);
      if (e == nullptr) {
        if (errno != 0) s = Status::IOError("list", dir, errno);
        break;
      }
      std::string name = e->d_name;
      if (name == "." || name == ".." || !WildcardMatch(mask, name)) continue;
      struct stat st {};
      if (::lstat((dir + name).c_str(), &st) != 0) continue;  // gone since the listing
      const bool regular = S_ISREG(st.st_mode);
      // A link to a directory still lists as a directory.
      if (S_ISLNK(st.st_mode) && ::stat((dir + name).c_str(), &st) != 0) st.st_mode = S_IFLNK;
      found->push_back(FoundFile{name, S_ISDIR(st.st_mode), st.st_mtime, regular});
    }
    ::closedir(d);
    std::stable_sort(found->begin(), found->end(), NameLess);
    return s;
  }

  Status GetFileInfo(const std::string& path, FileInfo* info) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Status::IOError("stat", path, errno);
    info->type = S_ISREG(st.st_mode) ? FileType::kRegular : S_ISDIR(st.st_mode) ? FileType::kDirectory
                                                                               : FileType::kOther;
    info->size = static_cast<uint64_t>(st.st_size);
    info->lastWrite = FromTimespec(st.st_mtim);
    return Status::OK();
  }

  Status CheckAccess(const std::string& path, int rights) override {
    static_assert(kMayEnter == X_OK && kMayWrite == W_OK && kMayRead == R_OK);
    if (::access(path.c_str(), rights) != 0) return Status::IOError("access", path, errno);
    return Status::OK();
  }

  Status SetLastWriteTime(const std::string& path, FileTime time) override {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = ToTimespec(time);
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return Status::IOError("touch", path, errno);
    return Status::OK();
  }

  Status CreateDirectories(const std::string& path) override {
    if (path.empty()) return Status::InvalidArgument("mkdir", path, "empty path");
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0) {
      return S_ISDIR(st.st_mode) ? Status::OK() : Status::IOError("mkdir", p, EEXIST);
    }
    size_t slash = p.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
      Status parent = CreateDirectories(p.substr(0, slash));
      if (!parent.ok()) return parent;
    }
    if (::mkdir(p.c_str(), 0755) == 0) return Status::OK();
    int err = errno;
    if (err == EEXIST && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Status::OK();
    return Status::IOError("mkdir", p, err);
  }

  Status ResolvePath(const std::string& path, std::string* resolved) override {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    const int err = ec.value();
    if (ec) p = fs::absolute(path, ec).lexically_normal();
    if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
    *resolved = p.string();
    return err == 0 ? Status::OK() : Status::IOError("resolve", path, err);
  }
};

// The host Env, or the fault-injecting one a test asked for through the
// environment.  Never destroyed: threads may still use it while the
// process exits.
Env* MakeDefaultEnv() {
  Env* host = new PosixEnv;
  const char* faultList = std::getenv("TOVALINK_TEST_FAULTS");
  if (faultList == nullptr || *faultList == '\0') return host;
  const Result<std::vector<FileFault>> faults = ParseFileFaults(faultList);
  if (!faults.ok()) {
    LogError("TOVALINK_TEST_FAULTS ignored: %s", faults.status().ToString().c_str());
    return host;
  }
  auto* faulty = new FaultInjectionEnv(host);
  for (const FileFault& f : faults.value()) faulty->AddFault(f);
  // The store is opened after this (its directory is made through the Env).
  if (!InstallStoreFaults(faulty)) LogError("TOVALINK_TEST_FAULTS cannot reach the store");
  LogWarning("file operations fail on purpose for a test: TOVALINK_TEST_FAULTS=%s", faultList);
  return faulty;
}

}  // namespace

Env* Env::Default() {
  static Env* const env = MakeDefaultEnv();
  return env;
}

}  // namespace tv::platform
