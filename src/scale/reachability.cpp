#include "scale/reachability.h"

#include <atomic>
#include <utility>

#include "platform/icmp.h"
#include "platform/log.h"

namespace tv {
namespace {

// Without the privilege for any ICMP socket every probe would fail and no
// scale would ever be served; the TCP connect then decides reachability.
void WarnProbeUnavailableOnce() {
  static std::atomic<bool> warned{false};
  if (!warned.exchange(true)) {
    platform::LogWarning(
        "ICMP echo is not available to this process; scales are probed by TCP connect only");
  }
}

}  // namespace

TPINGProcess::TPINGProcess(std::string address, int timeoutMs)
    : address_(std::move(address)), timeoutMs_(timeoutMs) {}

TPINGProcess::~TPINGProcess() { WaitFor(); }

int TPINGProcess::Execute() { return Reach(address_, timeoutMs_); }

int TPINGProcess::Reach(const std::string& address, int timeoutMs) {
  std::string replyFrom;
  switch (platform::IcmpEcho(address, kPayloadSize, timeoutMs, replyFrom)) {
    case platform::EchoOutcome::Reply:
      // A reply from elsewhere (a router's error) or an address written with
      // leading zeros never matches.
      return replyFrom == address ? 1 : 0;
    case platform::EchoOutcome::Unavailable:
      WarnProbeUnavailableOnce();
      return 1;
    case platform::EchoOutcome::NoReply:
      break;
  }
  return 0;
}

}  // namespace tv
