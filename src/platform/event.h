// Named manual-reset events and a wait for any of several of them.  An event
// stays signalled until Reset(); waiting does not consume it.  Names are kept
// for diagnostics only: events are private to the process.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace tv::platform {

class Event {
 public:
  explicit Event(std::string name = {});
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when signalled within `timeoutMs` (negative: wait forever).
  bool Wait(int timeoutMs = -1) const;
  const std::string& Name() const { return name_; }
  int Fd() const { return fd_; }

 private:
  std::string name_;
  int fd_ = -1;
};

constexpr int kWaitTimeout = -1;

// Index of the first signalled event, or kWaitTimeout.  `timeoutMs`
// negative waits forever.
int WaitForAny(std::initializer_list<const Event*> events, int timeoutMs = -1);

}  // namespace tv::platform
