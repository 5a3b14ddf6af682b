// `tovalink explain FILE`: what the scales would receive from an export
// file, worked out offline with the service's own parser, encoder and
// keyboard reader, without network, root or a running service.
#pragma once

#include <ostream>

namespace tv {

// argv holds the words after "explain".  Exit code 0 when every line is
// accepted, 2 when some are skipped (or a keyboard file would be refused),
// 1 when the file cannot be read or the command line is wrong; --help
// prints the usage to `out` and exits 0.
int RunExplainCommand(int argc, char** argv, std::ostream& out, std::ostream& err);
int RunExplainCommand(int argc, char** argv);

}  // namespace tv
