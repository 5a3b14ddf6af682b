#include "reporter/heartbeat.h"

#include "platform/net.h"
#include "platform/tick.h"
#include "text/utils.h"

namespace tv {
namespace {

constexpr uint32_t kReportIntervalMs = 2000;
constexpr int kSleepStepMs = 200;

}  // namespace

TUDPReporter::TUDPReporter(std::string monitorIP, std::shared_ptr<TEngineFlags> flags,
                           uint16_t port)
    : monitorIP_(std::move(monitorIP)),
      blank_(text::Trim(monitorIP_).empty()),
      flags_(std::move(flags)),
      port_(port) {}

TUDPReporter::~TUDPReporter() {
  Terminate();
  WaitFor();
}

int TUDPReporter::Execute() {
  uint32_t lastReport = platform::TickCount();
  while (!Terminated()) {
    uint32_t now = platform::TickCount();
    if (!blank_ && now - lastReport > kReportIntervalMs) {
      lastReport = now;
      SendReport();
      continue;
    }
    SleepUnlessTerminated(kSleepStepMs);
  }
  return 0;
}

void TUDPReporter::SendReport() {
  const uint32_t state = flags_ && flags_->CycleRunning.load() ? 3 : 2;
  const uint8_t datagram[4] = {static_cast<uint8_t>(state), static_cast<uint8_t>(state >> 8),
                               static_cast<uint8_t>(state >> 16),
                               static_cast<uint8_t>(state >> 24)};
  // A lost heartbeat is harmless: the next one follows in two seconds.
  platform::SendUdp(monitorIP_, port_, datagram, sizeof datagram);
}

}  // namespace tv
