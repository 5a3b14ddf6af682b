// `tovalink reg`: a reg.exe-like editor for the configuration store, for
// admins used to Windows.  query / add / delete, switches with / or -.
#pragma once

#include <string>

#include "platform/registry.h"

namespace tv {

// argv holds the words after "reg".  Output and errors go to stdout/stderr;
// returns the process exit code (0 success, 1 failure).
int RunRegCommand(int argc, char** argv);

// For the store commands, before their first write: a store without the
// product key gets the defaults the service writes on its first start, so
// the service later finds every value it needs.  True when it wrote them;
// the caller then says so with DefaultsNotice once they are committed.
bool WriteDefaultsIfNew(platform::Registry& reg);
void DefaultsNotice(const std::string& storePath);

// For the store commands, before anything else: root acts as the owner of
// the state directory (platform/stateowner.h).  False, with the reason on
// standard error, when it cannot.
bool ActAsStoreOwner();

// The one line on standard error that names the store a command uses;
// `writes` for a command that makes the store when it is missing.
void NameStore(const std::string& storePath, bool writes = false);

// A store error with, when this process may not write one of the store's
// files, whose file it is and the command that mends it.
std::string StoreErrorText(const platform::RegistryError& e);

// The store a reading command opens: the store file when it exists, else
// an empty store in memory.  Reading never creates the file, since the
// service refuses to start on a store file without the product key.
std::string StorePathForReading();

}  // namespace tv
