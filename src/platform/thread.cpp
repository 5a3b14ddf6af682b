#include "platform/thread.h"

#include <chrono>

#include "platform/log.h"

namespace tv::platform {

// Joins without requesting stop: a worker that was not asked to end (an
// export cycle, a scale client) runs to its end, as its creator expects.
Thread::~Thread() { WaitFor(); }

void Thread::Start() {
  if (thread_.joinable() || finished_.load()) return;
  thread_ = std::jthread([this] { Run(); });
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

void Thread::WakeOnStop(std::function<void()> wake) {
  wake_ = std::make_unique<std::stop_callback<std::function<void()>>>(stop_.get_token(),
                                                                      std::move(wake));
}

bool Thread::SleepUnlessTerminated(int ms) {
  std::unique_lock<std::mutex> lock(sleepMutex_);
  sleepCv_.wait_for(lock, stop_.get_token(), std::chrono::milliseconds(ms < 0 ? 0 : ms),
                    [] { return false; });
  return !Terminated();
}

}  // namespace tv::platform
