// `tovalink scale list|add|remove|set`: the scale list without editing the
// five device tables value by value.  Works on the store file directly; a
// running service picks the change up at its next export cycle.
#pragma once

namespace tv {

// argv holds the words after "scale".  Returns the exit code: 0 success,
// 1 refused or failed, 2 bad usage.
int RunScaleCommand(int argc, char** argv);

}  // namespace tv
