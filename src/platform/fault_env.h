// FaultInjectionEnv: an Env that passes every call on to another Env but
// fails the calls a test chose, with the errno a real disk gives (ENOSPC,
// EIO, EACCES, ...).  A failed call has no effect, as the Env contract
// promises for the real one, so what a test sees is what the caller makes
// of the failure.
//
// The service's own Env::Default() becomes one of these when the variable
// TOVALINK_TEST_FAULTS holds a fault list, so end-to-end tests can make the
// real binary meet a full disk.  The list is items separated by ';':
//   op:ERRNO[:after=N][:times=N][:path=PATTERN]
// e.g. "append:ENOSPC:after=2" fails every append after the first two, and
// "link:EIO:times=1:path=*/Unsent/*" fails one link into an Unsent folder.
#pragma once

#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "platform/env.h"

namespace tv::platform {

enum class FileOp { kRead, kWrite, kAppend, kCreate, kLink, kRename, kRemove, kList, kStat, kTouch, kMkdir };
constexpr size_t kFileOpCount = 11;

// "read", "write", "append", "create", "link", "rename", "remove", "list",
// "stat", "touch", "mkdir".
const char* FileOpName(FileOp op);

struct FileFault {
  FileOp op = FileOp::kRead;
  std::string pathPattern = "*";  // WildcardMatch on the host path
  int osError = 0;
  int after = 0;   // matching calls that still succeed first
  int times = -1;  // failures before the fault is spent; -1: no end
};

// Parses a TOVALINK_TEST_FAULTS list; fails naming the bad item.
Result<std::vector<FileFault>> ParseFileFaults(const std::string& faultList);

class FaultInjectionEnv : public Env {
 public:
  // `base` must outlive this object.
  explicit FaultInjectionEnv(Env* base) : base_(base) {}

  void AddFault(const FileFault& fault);
  void ClearFaults();
  // Calls of `op` seen so far, failed ones included.
  int Calls(FileOp op) const;
  // Calls failed on purpose so far.
  int Failures() const;

  Status ReadFile(const std::string& path, std::string* data) override;
  Status NewSequentialFile(const std::string& path, std::unique_ptr<SequentialFile>* file) override;
  Status WriteFile(const std::string& path, const std::string& data) override;
  Status AppendFile(const std::string& path, const std::string& data) override;
  Status WriteNewFile(const std::string& path, const std::string& data) override;
  Status LinkFile(const std::string& from, const std::string& to) override;
  Status RenameFile(const std::string& from, const std::string& to) override;
  // Fails as a "rename" on the target path.
  Status MoveFileNoReplace(const std::string& from, const std::string& to) override;
  Status RemoveFile(const std::string& path) override;
  Status FindFiles(const std::string& pattern, std::vector<FoundFile>* found) override;
  Status GetFileInfo(const std::string& path, FileInfo* info) override;
  Status CheckAccess(const std::string& path, int rights) override;
  Status SetLastWriteTime(const std::string& path, FileTime time) override;
  Status CreateDirectories(const std::string& path) override;
  // Fails as a "stat" of `path`.
  Status ResolvePath(const std::string& path, std::string* resolved) override;

  // The injected failure for this call of `op` on `path`, or ok.
  Status Check(FileOp op, const std::string& path);

 private:
  struct ArmedFault {
    FileFault fault;
    int matched = 0;
    int failed = 0;
  };

  Env* const base_;
  mutable std::mutex mutex_;
  std::vector<ArmedFault> faults_;
  std::array<int, kFileOpCount> calls_{};
  int failures_ = 0;
};

}  // namespace tv::platform
