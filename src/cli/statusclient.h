// The `tovalink status` command: asks a running service's status server for
// the delivery state of every scale and prints it as a table, or as JSON for
// scripts.
#pragma once

#include <iosfwd>

#include "cli/exitcode.h"

namespace tv {

// Exit code when the service answered and at least one scale failed.
inline constexpr int kStatusSomeFailed = cli::kExitSomeScaleFailed;

// `argv` holds the arguments after the subcommand: [HOST] [--json]
// [--port N].  HOST defaults to 127.0.0.1.  When HOST is this machine, the
// table adds each scale's history from the delivery log, its parked files
// and the files waiting.  Returns 0 when the service answered and no scale
// failed, kStatusSomeFailed when one did, 1 when nothing answered (refused,
// timed out, short reply) and 2 on a usage error; the reason goes to `err`.
// --help prints the usage to `out` and answers 0.
int RunStatusCommand(int argc, char** argv, std::ostream& out, std::ostream& err);
// The same on stdout and stderr.
int RunStatusCommand(int argc, char** argv);

}  // namespace tv
