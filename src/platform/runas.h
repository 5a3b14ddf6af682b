// Runs a piece of work with the rights of the user who owns a path.  `tovalink
// check` run by root proves what the service's own user may do in its
// directories, not what root may: root may write almost anywhere.
#pragma once

#include <functional>
#include <string>

namespace tv::platform {

// Runs `work` and gives back the text it returns.  When this process is
// root and `path` belongs to another user, `work` runs in a child process
// that has dropped to that user's uid and gid (no supplementary groups
// beyond the user's own); otherwise it runs here.  False with `error` when
// the child could not be made or did not finish.
bool RunAsOwnerOf(const std::string& path, const std::function<std::string()>& work,
                  std::string& result, std::string& error);

}  // namespace tv::platform
