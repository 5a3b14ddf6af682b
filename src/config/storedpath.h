// Checks on the directory paths of the store (ExportDir, LogoDir) that the
// drive mapping cannot make good.
#pragma once

#include <string>

namespace tv::config {

// A UNC path ("\\server\share\..." or with slashes): the share is not
// mounted by the service, and mapped as it stands it would land at the
// root of the file system.
bool IsNetworkSharePath(const std::string& stored);

// The operator's message for such a value of `name`.
std::string NetworkShareRefusal(const std::string& name, const std::string& stored);

}  // namespace tv::config
