// What a remote parameter block may set.  Its strings hold no control
// characters (a NUL would cut a path short where the host reads it), its
// ExportDir and LogoDir name no network share and lie, once mapped and
// normalised ("." and ".." and symbolic links resolved), inside one of the
// directories the operator allowed, and neither names an existing file that
// is not a directory.  A refused block is not written at all.
#pragma once

#include <string>
#include <vector>

#include "paramserver/paramblock.h"
#include "platform/registry.h"
#include "platform/status.h"

namespace tv {

// Ok when `block` may be written, else the refusal saying why.  `roots` are
// host directories; an empty list allows no directory.
platform::Status BlockRefusal(const TParamBlock& block, const std::vector<std::string>& roots);

// The host directories of the store's AllowedRoots (absolute or drive paths;
// other entries are ignored); empty when it is unset.
// A value that is not a string counts as unset.
std::vector<std::string> StoredAllowedRoots(platform::Registry& reg);

// The roots when AllowedRoots is unset: the state directory and the parent
// directories of the stored `exportDir` and `logoDir`.
std::vector<std::string> DefaultAllowedRoots(const std::string& exportDir, const std::string& logoDir);

}  // namespace tv
