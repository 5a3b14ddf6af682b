// The `tovalink status` command: asks a running service's status server for
// the delivery state of every scale and prints it as a table, or as JSON for
// scripts.
#pragma once

#include <iosfwd>

#include "cli/exitcode.h"

namespace tv {

// The exit codes of `tovalink status` (the README's table):
// 0 all well, 1 no answer, 2 a usage error, kStatusSomeFailed a scale failed
// or the service cannot deliver, kStatusNeedsALook delivered, but something
// needs a look.
inline constexpr int kStatusSomeFailed = cli::kExitSomeScaleFailed;
inline constexpr int kStatusNeedsALook = cli::kExitNeedsALook;

// `argv` holds the arguments after the subcommand: [HOST] [--json]
// [--port N].  HOST defaults to 127.0.0.1.  When HOST is this machine, the
// table adds each scale's history from the delivery log, its parked files
// and the files waiting, and from the service's own facts what blocks
// delivery.  Returns one of the codes above; 1 when nothing answered
// (refused, timed out, short reply); the reason goes to `err`.  --help
// prints the usage to `out` and answers 0.
int RunStatusCommand(int argc, char** argv, std::ostream& out, std::ostream& err);
// The same on stdout and stderr.
int RunStatusCommand(int argc, char** argv);

}  // namespace tv
