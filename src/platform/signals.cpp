#include "platform/signals.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>

namespace tv::platform {
namespace {

sigset_t TerminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

bool BlockTerminationSignals() {
  sigset_t set = TerminationSet();
  return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

int WaitForTerminationSignal() {
  sigset_t set = TerminationSet();
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  return sig;
}

}  // namespace tv::platform
