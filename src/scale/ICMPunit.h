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

  explicit TPINGProcess(std::string address);
  ~TPINGProcess() override;

 protected:
  int Execute() override;

 private:
  const std::string address;
};

}  // namespace tv
