// The store file as a whole: a consistent copy of a live store through
// SQLite's online backup (copying the file and its -wal by hand can catch
// a transaction half-way), the proof that a file is a sound store, and the
// replacement of the store by such a file.
#pragma once

#include <string>

#include "platform/status.h"

namespace tv::platform {

// Copies the store at `storePath` to `target` while other connections may
// read and write it: the copy is one committed state.  The copy is written
// under a temporary name beside `target`, synced and renamed over it.
Status BackupStore(const std::string& storePath, const std::string& target);

// Ok when `path` is an SQLite file that passes integrity_check and holds
// the key `productKey`; else why not.
Status VerifyStoreFile(const std::string& path, const std::string& productKey);

// Replaces the store at `storePath` by a verified copy of `source`: the
// copy is made and checked beside the store, synced, the old store's -wal
// and -shm are removed (they belong to the old file and would be replayed
// into the new one) and the copy renamed into place.  The caller makes sure
// that no service uses the store.
Status RestoreStore(const std::string& source, const std::string& storePath,
                    const std::string& productKey);

// Asks the process `pid` to reload its settings (SIGHUP).
Status SignalReload(long pid);

}  // namespace tv::platform
