#include "platform/storefile.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/env.h"
#include "platform/registry.h"

namespace tv::platform {
namespace {

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;

Status Open(const std::string& path, int flags, Db& db) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  db.reset(raw);
  if (rc != SQLITE_OK) return Status::InvalidArgument("cannot open", path, sqlite3_errstr(rc));
  sqlite3_busy_timeout(raw, 5000);
  return Status::OK();
}

// One online backup of `from` into a new file `to`.
Status CopyDatabase(const std::string& from, const std::string& to) {
  Db source, target;
  if (Status s = Open(from, SQLITE_OPEN_READONLY, source); !s.ok()) return s;
  if (Status s = Open(to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, target); !s.ok()) return s;
  sqlite3_backup* backup = sqlite3_backup_init(target.get(), "main", source.get(), "main");
  if (!backup) return Status::InvalidArgument("cannot copy", from, sqlite3_errmsg(target.get()));
  int rc;
  // Step by step, so a writer elsewhere waits only for one step; a write
  // in between restarts the copy, which then still ends in one state.
  while ((rc = sqlite3_backup_step(backup, 64)) == SQLITE_OK || rc == SQLITE_BUSY ||
         rc == SQLITE_LOCKED)
    sqlite3_sleep(rc == SQLITE_OK ? 0 : 20);
  const int done = sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE || done != SQLITE_OK)
    return Status::InvalidArgument("cannot copy", from,
                                   sqlite3_errstr(rc != SQLITE_DONE ? rc : done));
  // The copy is a plain file: no -wal beside it that a later move would lose.
  sqlite3_exec(target.get(), "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  return Status::OK();
}

Status SyncPath(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return Status::IOError("cannot open", path, errno);
  const int rc = fsync(fd);
  const int error = errno;
  close(fd);
  return rc == 0 ? Status::OK() : Status::IOError("cannot sync", path, error);
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string TemporaryBeside(const std::string& path) {
  return path + ".tmp-" + std::to_string(getpid());
}

// Syncs the new file and renames it over `to`, the directory synced after.
Status Publish(const std::string& temp, const std::string& to) {
  Env& env = *Env::Default();
  Status s = SyncPath(temp, O_RDONLY);
  if (s.ok()) s = env.RenameFile(temp, to);
  if (!s.ok()) {
    env.RemoveFile(temp);
    return s;
  }
  return SyncPath(DirectoryOf(to), O_RDONLY | O_DIRECTORY);
}

Status CopyBeside(const std::string& from, const std::string& to, std::string& temp) {
  temp = TemporaryBeside(to);
  Env::Default()->RemoveFile(temp);
  Status s = CopyDatabase(from, temp);
  if (!s.ok()) Env::Default()->RemoveFile(temp);
  return s;
}

}  // namespace

Status BackupStore(const std::string& storePath, const std::string& target) {
  if (!Env::Default()->FileExists(storePath))
    return Status::InvalidArgument("cannot back up", storePath, "no store");
  std::string temp;
  if (Status s = CopyBeside(storePath, target, temp); !s.ok()) return s;
  return Publish(temp, target);
}

Status VerifyStoreFile(const std::string& path, const std::string& productKey) {
  Db db;
  if (Status s = Open(path, SQLITE_OPEN_READONLY, db); !s.ok()) return s;
  sqlite3_stmt* stmt = nullptr;
  std::string verdict = "not an SQLite database";
  if (sqlite3_prepare_v2(db.get(), "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW)
    verdict = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  sqlite3_finalize(stmt);
  if (verdict != "ok") return Status::InvalidArgument("integrity check of", path, verdict);
  db.reset();
  try {
    Registry reg(path);
    if (!reg.KeyExists(productKey))
      return Status::InvalidArgument("not a store", path, "no key " + productKey);
  } catch (const RegistryError& e) {
    return Status::InvalidArgument("not a store", path, e.what());
  }
  return Status::OK();
}

Status RestoreStore(const std::string& source, const std::string& storePath,
                    const std::string& productKey) {
  Env& env = *Env::Default();
  if (!env.FileExists(source))
    return Status::InvalidArgument("cannot restore", source, "no such file");
  std::string temp;
  if (Status s = CopyBeside(source, storePath, temp); !s.ok()) return s;
  Status s = VerifyStoreFile(temp, productKey);
  // Checking opens the copy as a store; its side files go with it.
  env.RemoveFile(temp + "-wal");
  env.RemoveFile(temp + "-shm");
  if (!s.ok()) {
    env.RemoveFile(temp);
    return s;
  }
  // The old store's side files would be replayed into the new file.
  env.RemoveFile(storePath + "-wal");
  env.RemoveFile(storePath + "-shm");
  return Publish(temp, storePath);
}

Status SignalReload(long pid) {
  if (pid <= 0) return Status::InvalidArgument("cannot signal", std::to_string(pid), "no process");
  if (kill(static_cast<pid_t>(pid), SIGHUP) != 0)
    return Status::IOError("cannot signal", std::to_string(pid), errno);
  return Status::OK();
}

}  // namespace tv::platform
