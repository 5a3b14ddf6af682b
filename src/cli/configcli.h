// `tovalink config dump|apply`: the whole configuration (every stored value
// and the scale list) as one commented text file that a repository can
// keep and a configuration tool can apply on every pass.
#pragma once

#include <ostream>

namespace tv {

// argv holds the words after "config".  Returns the exit code: 0 done (or
// nothing to change), 1 failed, 2 bad usage or an invalid file.
int RunConfigCommand(int argc, char** argv, std::ostream& out, std::ostream& err);
int RunConfigCommand(int argc, char** argv);

}  // namespace tv
