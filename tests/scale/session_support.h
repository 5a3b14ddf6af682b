// Runs a scale client against a simulated scale on loopback.  Every test
// that uses it runs in a network namespace of its own.
#pragma once

#include <fstream>
#include <string>

#include "scalesim/sim_scale.h"
#include "scale/client_fixture.h"

namespace tv::test {

constexpr uint16_t kGoodsPort = 3005;

// Makes this namespace's loopback ignore ICMP echo requests.
inline bool IgnoreEchoRequests() {
  std::ofstream f("/proc/sys/net/ipv4/icmp_echo_ignore_all");
  f << "1\n";
  f.flush();
  return static_cast<bool>(f);
}

// Creates, starts and waits for a client as the export cycle does.
inline int Deliver(ClientFixture& fixture, ClientArgs args = {}) {
  args.port = kGoodsPort;
  auto client = fixture.Make(args);
  client->Start();
  return client->WaitFor();
}

}  // namespace tv::test
