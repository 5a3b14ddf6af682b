// `tovalink rejected list|retry|drop`: the Rejected folder of the export
// directory as a queue an operator works through: why each file was
// rejected, back into the export directory for another try, or away.
#pragma once

#include <ostream>

namespace tv {

// argv holds the words after "rejected".  Returns 0 done, 1 refused or
// failed, 2 bad usage; --help prints the usage to `out`.
int RunRejectedCommand(int argc, char** argv, std::ostream& out, std::ostream& err);
int RunRejectedCommand(int argc, char** argv);

}  // namespace tv
