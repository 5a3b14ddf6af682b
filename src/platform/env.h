// Env: every file operation of the service goes through this interface, so
// a test can put a failing disk under the real code.  Env::Default() is the
// host's file system; FaultInjectionEnv (platform/fault_env.h) wraps an Env
// and fails chosen calls.  Paths are host paths (see MapPath in
// platform/fs.h).  Every operation reports what failed through its Status.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/status.h"

namespace tv::platform {

// Last-write times at the file system's full resolution.
using FileTime = std::chrono::system_clock::time_point;

enum class FileType { kRegular, kDirectory, kOther };

// The rights CheckAccess asks about, combined with |.
enum AccessRight : int { kMayEnter = 1, kMayWrite = 2, kMayRead = 4 };

struct FileInfo {
  FileType type = FileType::kOther;
  uint64_t size = 0;
  FileTime lastWrite;
};

// A file read front to back in chunks of the caller's size.
class SequentialFile {
 public:
  virtual ~SequentialFile() = default;
  // Up to `n` bytes into `chunk`; an empty chunk means the end of the file.
  virtual Status Read(size_t n, std::string* chunk) = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // The host's file system; never destroyed.  With TOVALINK_TEST_FAULTS set
  // it is a FaultInjectionEnv over it (see platform/fault_env.h).
  static Env* Default();

  virtual Status ReadFile(const std::string& path, std::string* data) = 0;
  // Opens a regular file only: never through a symbolic link, and without
  // waiting for a writer when `path` is a FIFO.
  virtual Status NewSequentialFile(const std::string& path, std::unique_ptr<SequentialFile>* file) = 0;
  // Creates or truncates `path` and writes `data`.
  virtual Status WriteFile(const std::string& path, const std::string& data) = 0;
  // Appends `data` with one write to `path` (created when missing), so a
  // reader never sees part of it; a write that fails part-way is taken back.
  virtual Status AppendFile(const std::string& path, const std::string& data) = 0;
  // Creates `path`, which must not exist, with mode 0640 (less by the
  // umask), writes `data` and syncs it to the disk.  On failure the new file
  // is removed again.
  virtual Status WriteNewFile(const std::string& path, const std::string& data) = 0;
  // Gives the file `from` the second name `to`; an existing `to` is an error,
  // never overwritten.
  virtual Status LinkFile(const std::string& from, const std::string& to) = 0;
  // Moves `from` to `to`, replacing an existing `to`.
  virtual Status RenameFile(const std::string& from, const std::string& to) = 0;
  // Moves `from` to `to` in one step; an existing `to` is an error, never
  // replaced.  Unlike a link, it needs no right to the file itself, only to
  // the directories, so it moves files other users own.
  virtual Status MoveFileNoReplace(const std::string& from, const std::string& to) = 0;
  virtual Status RemoveFile(const std::string& path) = 0;
  // The entries of the directory part of `pattern` whose names match its
  // last component (WildcardMatch), "." and ".." excluded, in
  // case-insensitive name order.  A missing directory is NotFound.
  virtual Status FindFiles(const std::string& pattern, std::vector<FoundFile>* found) = 0;
  virtual Status GetFileInfo(const std::string& path, FileInfo* info) = 0;
  // Ok when this process holds every right in `rights` (AccessRight bits)
  // on `path`, judged by its real ids, as access(2) does.
  virtual Status CheckAccess(const std::string& path, int rights) = 0;
  virtual Status SetLastWriteTime(const std::string& path, FileTime time) = 0;
  // Creates the directory with all missing parents; ok when it exists after.
  virtual Status CreateDirectories(const std::string& path) = 0;
  // `path` made absolute, its symbolic links resolved as far as it exists and
  // "." and ".." taken out beyond, without a trailing separator: the place a
  // path really names.  On failure `resolved` still holds the absolute path
  // normalised without the file system's help.
  virtual Status ResolvePath(const std::string& path, std::string* resolved) = 0;

  // Predicates: something that is not a directory, and a directory, exists
  // at `path` (a symbolic link counts as what it points to).
  bool FileExists(const std::string& path);
  bool DirectoryExists(const std::string& path);
};

// Copies the regular file `from` to `to`, keeping the source's last-write
// time, never overwriting an existing `to` and never leaving a partial `to`:
// the copy is written and synced under a hidden temporary name in the
// target directory and linked into place; the temporary name is removed
// whatever happens.
Status CopyFileNoOverwrite(Env& env, const std::string& from, const std::string& to);

// Writes `data` as the new file `to` with the last-write time `lastWrite`
// the same way: whole or not at all, never over an existing file.
Status PublishNewFile(Env& env, const std::string& to, const std::string& data, FileTime lastWrite);

// True for the hidden temporary names CopyFileNoOverwrite writes to; one
// left behind (the process was killed mid-copy) is stale once no copy runs.
bool IsTemporaryCopyName(const std::string& name);

// Proves that a file can be created and removed in the directory `dir`:
// one where the service may read but not remove would have every delivered
// file delivered again, cycle after cycle.
Status ProveWritable(Env& env, const std::string& dir);

// Reads the regular file `path` in chunks; a file of more than `limit`
// bytes is an error with errno EFBIG, and nothing beyond the limit is read.
Status ReadRegularFile(Env& env, const std::string& path, uint64_t limit, std::string* data);

}  // namespace tv::platform
