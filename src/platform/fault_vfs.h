// Store faults: the configuration store writes through SQLite, not through
// the Env, so a FaultInjectionEnv reaches it through an SQLite VFS over the
// host's own.  Every write and truncation of a store file (the database,
// its WAL and its journal) first asks the Env's "write" faults with that
// file's host path, so "write:ENOSPC:path=*/registry.db*" gives the store
// a full disk.  A failed call has no effect, like a failed Env call.
#pragma once

#include "platform/fault_env.h"

namespace tv::platform {

// Makes the fault VFS SQLite's default for every store opened after the
// call.  `env` must live until the process ends.  False when SQLite refused.
bool InstallStoreFaults(FaultInjectionEnv* env);
// Puts SQLite's own default back (stores already open keep the fault VFS).
void RemoveStoreFaults();

}  // namespace tv::platform
