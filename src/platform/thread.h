// The worker thread base class.  A worker derives from Thread, does its work
// in Execute() and ends with an integer result (a result code) that whoever
// waits for it reads.  The creator calls Start() once construction is done
// (a C++ base constructor cannot run a derived Execute) and WaitFor()
// before destroying the object; the destructor waits too, so a worker is
// never destroyed while it runs.
#pragma once

#include <atomic>
#include <thread>

namespace tv::platform {

class Thread {
 public:
  Thread() = default;
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  void Start();
  // Asks the worker to end; Execute polls Terminated().
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  // Waits for Execute to return and gives its result.  Safe to call again.
  int WaitFor();
  bool Finished() const { return finished_.load(); }
  bool Started() const { return thread_.joinable() || finished_.load(); }

 protected:
  virtual int Execute() = 0;

 private:
  void Run();
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  int result_ = 0;
};

}  // namespace tv::platform
