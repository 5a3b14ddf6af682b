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
// The Rejected folder beside it, in the same form.
std::string RejectedFolder(const std::string& directoryPart);

// Where the reason a file was rejected for is kept: a hidden file beside
// it in Rejected (`rejectedHostPath` is the file's host path there), so
// that `tovalink rejected list` can say why, and the back office's view of
// the folder shows only the files.
std::string RejectReasonPath(const std::string& rejectedHostPath);

// False for a name the host path mapping or the log would garble: one
// holding "\" or a control character.
bool NameRoundTrips(const std::string& name);

}  // namespace tv::fileproc
