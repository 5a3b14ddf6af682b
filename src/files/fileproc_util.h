// Small helpers shared by the fileproc units; not part of CFiles' interface.
#pragma once

#include <cstdint>
#include <string>

namespace tv::fileproc {

// The stored form's directory part: up to and including the last '\' or '/'.
std::string DirectoryPart(const std::string& path);

// The Unsent folder of a directory part, with the separator that part
// already uses: "C:\X\" gives "C:\X\Unsent\" and "/x/" gives "/x/Unsent/".
std::string UnsentFolder(const std::string& directoryPart);

}  // namespace tv::fileproc
