// The user the state directory belongs to.  The service runs as that user;
// root editing its store acts as that user too, so that every file SQLite
// makes (the store and its -wal, -shm and journal files) stays one the
// service can write.
#pragma once

#include <string>

#include "platform/status.h"

namespace tv::platform {

// As root, when `dir` exists and belongs to another user: becomes that user
// (its group from the user database, else the directory's group) for the
// rest of the process.  `who` gets the user's name, or "" when nothing
// changed.  Call before any thread starts.
Status ActAsOwnerOf(const std::string& dir, std::string* who);

// Why this process cannot write the store `path` (its directory, the file
// or one of SQLite's side files), with the command that mends it; "" when
// every one that exists is writable.
std::string StoreWriteProblem(const std::string& path);

// When this process may not enter or write the state directory `dir` of
// another user: says whose it is and as whom to run the command; else "".
std::string StateDirectoryAccessProblem(const std::string& dir);

}  // namespace tv::platform
