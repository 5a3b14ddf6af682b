// Waiting for the service's signals (SIGINT and SIGTERM end it, SIGHUP
// reloads its settings) on a thread of our choosing instead of in an
// asynchronous handler.
#pragma once

namespace tv::platform {

// Blocks SIGINT, SIGTERM and SIGHUP for the calling thread and every thread
// it creates afterwards; call it first thing in main, before any thread
// starts.  Unblocked, SIGHUP would kill the service mid-cycle.
bool BlockTerminationSignals();
// Waits until SIGINT, SIGTERM or SIGHUP arrives (blocked before) and
// returns it.
int WaitForTerminationSignal();

}  // namespace tv::platform
