// `tovalink reg`: a reg.exe-like editor for the configuration store, for
// admins used to Windows.  query / add / delete, switches with / or -.
#pragma once

#include <ostream>
#include <string>

#include "platform/registry.h"

namespace tv {

// argv holds the words after "reg".  Output goes to `out`, errors and
// warnings to `err`; returns the process exit code (0 success, 1 failure,
// a usage error included, as reg.exe does).  --help prints the usage.
int RunRegCommand(int argc, char** argv, std::ostream& out, std::ostream& err);
int RunRegCommand(int argc, char** argv);

// For the store commands, before their first write: a store without the
// product key gets the defaults the service writes on its first start, so
// the service later finds every value it needs.  True when it wrote them;
// the caller then says so with DefaultsNotice once they are committed.
bool WriteDefaultsIfNew(platform::Registry& reg);
void DefaultsNotice(const std::string& storePath, std::ostream& out);

// For the store commands, once their arguments are understood and before
// they touch the store: root acts as the owner of the state directory
// (platform/stateowner.h).  False, with the reason on `err`, when it cannot.
bool ActAsStoreOwner(std::ostream& err);

// The one line on `err` that names the store a command uses; `writes` for
// a command that makes the store when it is missing.
void NameStore(std::ostream& err, const std::string& storePath, bool writes = false);

// A store error with, when this process may not write one of the store's
// files, whose file it is and the command that mends it.
std::string StoreErrorText(const platform::RegistryError& e);

// The store a reading command opens: the store file when it exists, else
// an empty store in memory.  Reading never creates the file, since the
// service refuses to start on a store file without the product key.
std::string StorePathForReading();

}  // namespace tv
