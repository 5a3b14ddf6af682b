// Runs a scale client against a simulated scale on loopback.  Every test
// that uses it runs in a network namespace of its own.
#pragma once

#include <fstream>
#include <string>

#include "scalesim/sim_scale.h"
#include "scale/scaleclient.h"
#include "scale/encoder_fixture.h"

namespace tv::test {

constexpr uint16_t kGoodsPort = 3005;

// Makes this namespace's loopback ignore ICMP echo requests.
inline bool IgnoreEchoRequests() {
  std::ofstream f("/proc/sys/net/ipv4/icmp_echo_ignore_all");
  f << "1\n";
  f.flush();
  return static_cast<bool>(f);
}

constexpr const char* kScaleAddress = "127.0.0.5";

inline TScaleClntContext ClientContext(EncoderFixture& fixture,
                                       int timeoutMs = TScaleClntContext::kNetworkTimeoutMs) {
  TScaleClntContext context;
  context.clock = &fixture.clock;
  context.networkTimeoutMs = timeoutMs;
  return context;
}

// Encodes the fixture's lists, then creates, starts and waits for a client
// as the export cycle does.
inline int Deliver(EncoderFixture& fixture, const ScaleArgs& args = {},
                   int timeoutMs = TScaleClntContext::kNetworkTimeoutMs) {
  TScaleClnt client({kScaleAddress, kGoodsPort}, fixture.Encode(args),
                    ClientContext(fixture, timeoutMs));
  client.Start();
  return client.WaitFor();
}

}  // namespace tv::test
