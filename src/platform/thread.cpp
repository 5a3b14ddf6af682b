#include "platform/thread.h"

#include "platform/log.h"

namespace tv::platform {

Thread::~Thread() { WaitFor(); }

void Thread::Start() {
  if (thread_.joinable() || finished_.load()) return;
  thread_ = std::thread([this] { Run(); });
}

void Thread::Run() {
  int r = 0;
  try {
    r = Execute();
  } catch (...) {
    LogCaughtException("thread ended by an exception");
    r = -1;  // an escaped exception must never take the process down
  }
  result_ = r;
  finished_.store(true);
}

int Thread::WaitFor() {
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) return result_;
    thread_.join();
  }
  return result_;
}

}  // namespace tv::platform
