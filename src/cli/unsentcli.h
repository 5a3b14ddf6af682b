// `tovalink unsent list|drop`: the files parked for single scales in the
// Unsent folder, listed by scale with their original names, and dropped by
// scale.  Works on the folder and the store directly.
#pragma once

namespace tv {

// argv holds the words after "unsent".  Returns the exit code: 0 success,
// 1 refused or failed, 2 bad usage.
int RunUnsentCommand(int argc, char** argv);

}  // namespace tv
