// `tovalink unsent list|drop`: the files parked for single scales in the
// Unsent folder, listed by scale with their original names, and dropped by
// scale.  Works on the folder and the store directly.
#pragma once

#include <ostream>

namespace tv {

// argv holds the words after "unsent".  Returns the exit code: 0 success,
// 1 refused or failed, 2 bad usage.  --help, after "unsent" or after a
// subcommand, prints the usage to `out`.
int RunUnsentCommand(int argc, char** argv, std::ostream& out, std::ostream& err);
int RunUnsentCommand(int argc, char** argv);

}  // namespace tv
