// The echo probe on loopback.
#include <gtest/gtest.h>

#include <chrono>

#include "scale/reachability.h"
#include "scale/session_support.h"

namespace tv {
namespace {

// The probe as a thread of its own and on the calling thread (as a client
// runs it) must answer alike.
int Probe(const std::string& address, int timeoutMs = TPINGProcess::kTimeoutMs) {
  TPINGProcess probe(address, timeoutMs);
  probe.Start();
  const int onItsThread = probe.WaitFor();
  EXPECT_EQ(TPINGProcess::Reach(address, timeoutMs), onItsThread) << address;
  return onItsThread;
}

TEST(PingProcessTest, AnsweringHostGivesOne) {
  EXPECT_EQ(Probe("127.0.0.1"), 1);
  EXPECT_EQ(Probe("127.0.0.7"), 1);
}

TEST(PingProcessTest, AddressWithLeadingZerosNeverMatches) {
  EXPECT_EQ(Probe("127.0.0.007"), 0);
}

TEST(PingProcessTest, UnparsableAddressGivesZero) {
  EXPECT_EQ(Probe("scale five"), 0);
}

TEST(PingProcessTest, SilentHostGivesZeroAfterTheTimeOut) {
  ASSERT_TRUE(test::IgnoreEchoRequests());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Probe("127.0.0.9", 300), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(290));
  EXPECT_LT(took, std::chrono::milliseconds(test::ScaledBelow(1000, TPINGProcess::kTimeoutMs)));
}

}  // namespace
}  // namespace tv
