// The operator's "lock" and "unlock" commands: ask a running service's
// parameter server to hold exporting back (DLE) or to let it resume (DC1).
#pragma once

#include <ostream>

#include "cli/exitcode.h"

namespace tv {

// Exit codes of RunLockCommand.
inline constexpr int kLockAccepted = cli::kExitDone;       // ACK
inline constexpr int kLockNotAccepted = cli::kExitFailed;  // BS, NAK or another byte
inline constexpr int kLockUsage = cli::kExitUsage;         // bad arguments
inline constexpr int kLockNoAnswer = cli::kExitNoAnswer;   // nothing listens or nothing answered

// `argv` holds the arguments after the subcommand: an optional HOST
// (default 127.0.0.1) and an optional "--port N" (default 3057).  Prints
// the answer ("accepted", "busy: an export cycle is running", "refused" or
// the byte in hex) to `out` and errors to `err`; --help prints the usage
// to `out`.
int RunLockCommand(bool lock, int argc, char** argv, std::ostream& out, std::ostream& err);
int RunLockCommand(bool lock, int argc, char** argv);

}  // namespace tv
