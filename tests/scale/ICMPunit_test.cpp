// The echo probe on loopback.
#include <gtest/gtest.h>

#include "scale/ICMPunit.h"
#include "scale/session_support.h"

namespace tv {
namespace {

int Probe(const std::string& address) {
  TPINGProcess probe(address);
  probe.Start();
  return probe.WaitFor();
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
  EXPECT_EQ(Probe("127.0.0.9"), 0);
}

}  // namespace
}  // namespace tv
