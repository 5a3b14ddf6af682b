// Waiting for the termination signals (SIGINT, SIGTERM) on a thread of our
// choosing instead of in an asynchronous handler.
#pragma once

namespace tv::platform {

// Blocks SIGINT and SIGTERM for the calling thread and every thread it
// creates afterwards; call it first thing in main, before any thread starts.
bool BlockTerminationSignals();
// Waits until SIGINT or SIGTERM arrives (blocked before) and returns it.
int WaitForTerminationSignal();

}  // namespace tv::platform
