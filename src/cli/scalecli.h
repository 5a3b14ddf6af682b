// `tovalink scale list|add|remove|set`: the scale list without editing the
// five device tables value by value.  Works on the store file directly; a
// running service picks the change up at its next export cycle.
#pragma once

#include <ostream>

namespace tv {

// argv holds the words after "scale".  Returns the exit code: 0 success,
// 1 refused or failed, 2 bad usage.  --help, after "scale" or after a
// subcommand, prints the usage to `out`.
int RunScaleCommand(int argc, char** argv, std::ostream& out, std::ostream& err);
int RunScaleCommand(int argc, char** argv);

}  // namespace tv
