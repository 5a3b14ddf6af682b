#include "reporter/UDPRep.h"

#include "platform/net.h"
#include "platform/tick.h"

namespace tv {
namespace {

constexpr uint32_t kReportIntervalMs = 2000;
constexpr int kSleepStepMs = 200;

// Blank as the setting's trim sees it: nothing above the space character.
bool IsBlank(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) > ' ') return false;
  return true;
}

}  // namespace

TUDPReporter::TUDPReporter(std::string monitorIP, std::shared_ptr<TEngineFlags> flags,
                           uint16_t port)
    : monitorIP_(std::move(monitorIP)),
      blank_(IsBlank(monitorIP_)),
      flags_(std::move(flags)),
      port_(port),
      wake_("UDPRep_Wake") {}

TUDPReporter::~TUDPReporter() {
  Stop();
  WaitFor();
}

void TUDPReporter::Stop() {
  Terminate();
  wake_.Set();
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
    wake_.Wait(kSleepStepMs);
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
