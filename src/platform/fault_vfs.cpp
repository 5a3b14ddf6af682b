#include "platform/fault_vfs.h"

#include <sqlite3.h>

#include <cerrno>
#include <mutex>

namespace tv::platform {
namespace {

// SQLite allocates szOsFile bytes per open file: this head, then the real
// VFS's file right behind it.
struct FaultFile {
  sqlite3_file head;
  sqlite3_file* real;
  const char* path;  // SQLite keeps the name valid until xClose
};

FaultInjectionEnv* g_env = nullptr;
sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<FaultFile*>(f)->real; }

// The SQLite code a disk gives for the injected errno.
int Injected(sqlite3_file* f, int ioErr) {
  const auto* file = reinterpret_cast<FaultFile*>(f);
  if (file->path == nullptr) return SQLITE_OK;
  Status s = g_env->Check(FileOp::kWrite, file->path);
  if (s.ok()) return SQLITE_OK;
  return s.osError() == ENOSPC || s.osError() == EDQUOT ? SQLITE_FULL : ioErr;
}

int Close(sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); }
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 at) {
  return Real(f)->pMethods->xRead(Real(f), p, n, at);
}
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
  int rc = Injected(f, SQLITE_IOERR_WRITE);
  return rc != SQLITE_OK ? rc : Real(f)->pMethods->xWrite(Real(f), p, n, at);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
  int rc = Injected(f, SQLITE_IOERR_TRUNCATE);
  return rc != SQLITE_OK ? rc : Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
  return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int level) { return Real(f)->pMethods->xLock(Real(f), level); }
int Unlock(sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
int CheckReservedLock(sqlite3_file* f, int* out) {
  return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
  return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) {
  return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** p) {
  return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, p);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int deleteFlag) {
  return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag);
}
int Fetch(sqlite3_file* f, sqlite3_int64 at, int n, void** p) {
  return Real(f)->pMethods->xFetch(Real(f), at, n, p);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 at, void* p) {
  return Real(f)->pMethods->xUnfetch(Real(f), at, p);
}

const sqlite3_io_methods kMethods = {3,
                                     Close,
                                     Read,
                                     Write,
                                     Truncate,
                                     Sync,
                                     FileSize,
                                     Lock,
                                     Unlock,
                                     CheckReservedLock,
                                     FileControl,
                                     SectorSize,
                                     DeviceCharacteristics,
                                     ShmMap,
                                     ShmLock,
                                     ShmBarrier,
                                     ShmUnmap,
                                     Fetch,
                                     Unfetch};

int Open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
  auto* file = reinterpret_cast<FaultFile*>(f);
  file->head.pMethods = nullptr;
  file->real = reinterpret_cast<sqlite3_file*>(file + 1);
  file->path = name;
  int rc = g_real->xOpen(g_real, name, file->real, flags, outFlags);
  // Without the real file's methods SQLite must not call ours (no xClose).
  if (file->real->pMethods != nullptr) file->head.pMethods = &kMethods;
  return rc;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) {
  return g_real->xDelete(g_real, name, syncDir);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
  return g_real->xAccess(g_real, name, flags, out);
}
int FullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
  return g_real->xFullPathname(g_real, name, n, out);
}

}  // namespace

bool InstallStoreFaults(FaultInjectionEnv* env) {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  if (sqlite3_initialize() != SQLITE_OK) return false;
  g_env = env;
  if (g_real == nullptr) {
    g_real = sqlite3_vfs_find(nullptr);
    if (g_real == nullptr) return false;
    // Everything but opening files and naming them is the host's VFS.
    g_vfs = *g_real;
    g_vfs.pNext = nullptr;
    g_vfs.zName = "tovalink-faults";
    g_vfs.szOsFile = static_cast<int>(sizeof(FaultFile)) + g_real->szOsFile;
    g_vfs.xOpen = Open;
    g_vfs.xDelete = Delete;
    g_vfs.xAccess = Access;
    g_vfs.xFullPathname = FullPathname;
  }
  return sqlite3_vfs_register(&g_vfs, 1) == SQLITE_OK;
}

void RemoveStoreFaults() {
  if (g_real != nullptr) sqlite3_vfs_register(g_real, 1);
}

}  // namespace tv::platform
