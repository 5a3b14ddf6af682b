// The reachability probe a scale client runs before it connects: one ICMP
// echo request with an 11-byte zero payload and a 5-second time-out.  The
// thread ends with 1 when the scale itself answered, 0 otherwise.
#pragma once

#include <string>

#include "platform/thread.h"

namespace tv {

class TPINGProcess : public platform::Thread {
 public:
  static constexpr size_t kPayloadSize = 11;
  static constexpr int kTimeoutMs = 5000;

  // `timeoutMs` exists so tests need not wait the real five seconds.
  explicit TPINGProcess(std::string address, int timeoutMs = kTimeoutMs);
  ~TPINGProcess() override;

  // The probe's answer (1 or 0) on the calling thread.  A client that only
  // waits for its probe calls this: a thread of the probe's own would add a
  // creation and a join to every scale and nothing else.
  static int Reach(const std::string& address, int timeoutMs = kTimeoutMs);

 protected:
  int Execute() override;

 private:
  const std::string address_;
  const int timeoutMs_;
};

}  // namespace tv
