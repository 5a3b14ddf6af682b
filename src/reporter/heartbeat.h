// TUDPReporter: the heartbeat to a monitoring host.  About every two seconds
// it sends one 4-byte UDP datagram saying the service is alive (2) or is
// running an export cycle (3).  It expects no answer and ignores every
// network error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "config/settings.h"
#include "platform/thread.h"

namespace tv {

inline constexpr uint16_t kMonitorPort = 19200;

class TUDPReporter : public platform::Thread {
 public:
  // `monitorIP` is the MonitorIP setting, fixed for the reporter's life;
  // blank means nothing is ever sent.  The flags are shared so that the
  // reporter may outlive the engine without reading freed memory.
  TUDPReporter(std::string monitorIP, std::shared_ptr<TEngineFlags> flags,
               uint16_t port = kMonitorPort);
  // The thread reads the members below: it must end before they go.
  ~TUDPReporter() override;

 protected:
  int Execute() override;

 private:
  void SendReport();

  const std::string monitorIP_;
  const bool blank_;
  const std::shared_ptr<TEngineFlags> flags_;
  const uint16_t port_;
};

}  // namespace tv
