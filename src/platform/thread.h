// The worker thread base class.  A worker derives from Thread, does its work
// in Execute() and ends with an integer result (a result code) that whoever
// waits for it reads.  The creator calls Start() once construction is done
// (a C++ base constructor cannot run a derived Execute) and WaitFor()
// before destroying the object; the destructor waits too, so a worker is
// never destroyed while it runs.
//
// Terminate() requests stop on the worker's stop token.  A worker that
// blocks somewhere the token cannot reach (an accept, a receive, an event
// wait) says how it is woken with WakeOnStop(); one that only sleeps
// between steps uses SleepUnlessTerminated().
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace tv::platform {

class Thread {
 public:
  Thread() = default;
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  void Start();
  // Asks the worker to end and runs its wake-up, on the calling thread.
  // Works before Start() too: the worker then sees the request at once.
  void Terminate() { stop_.request_stop(); }
  bool Terminated() const { return stop_.stop_requested(); }
  // Waits for Execute to return and gives its result.  Safe to call again.
  int WaitFor();
  bool Finished() const { return finished_.load(); }
  bool Started() const { return thread_.joinable() || finished_.load(); }

 protected:
  virtual int Execute() = 0;

  std::stop_token StopToken() const { return stop_.get_token(); }
  // Registers how a blocked Execute is woken when stop is requested; runs
  // at once when it already was.  Register once, from the derived
  // constructor, and wake only members that outlive the worker's join.
  void WakeOnStop(std::function<void()> wake);
  // Sleeps `ms` milliseconds or until stop is requested, whichever comes
  // first.  False when stop was requested.
  bool SleepUnlessTerminated(int ms);

 private:
  void Run();

  std::stop_source stop_;
  std::unique_ptr<std::stop_callback<std::function<void()>>> wake_;
  std::mutex sleepMutex_;
  std::condition_variable_any sleepCv_;
  std::jthread thread_;
  std::atomic<bool> finished_{false};
  int result_ = 0;
};

}  // namespace tv::platform
