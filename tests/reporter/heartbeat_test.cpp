#include "reporter/heartbeat.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/udpreceiver.h"
#include "testutil.h"

namespace tv {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// One datagram within `timeoutMs`, or empty.
Bytes NextDatagram(platform::UdpReceiver& monitor, int timeoutMs) {
  uint8_t buf[64];
  long n = monitor.Receive(buf, sizeof buf, timeoutMs);
  if (n < 0) return {};
  return Bytes(buf, buf + std::min<long>(n, sizeof buf));
}

// Terminate() wakes the thread from its sleep: it ends at once.
void ExpectTerminateEndsPromptly(TUDPReporter& reporter) {
  const auto start = Clock::now();
  reporter.Terminate();
  reporter.WaitFor();
  EXPECT_LT(MsSince(start), test::Scaled(100));
}

TEST(UDPReporterTest, ReportsIdleAndCycleStateAboutEveryTwoSeconds) {
  platform::UdpReceiver monitor;
  ASSERT_TRUE(monitor.Bind("127.0.0.1", kMonitorPort));
  auto flags = std::make_shared<TEngineFlags>();
  TUDPReporter reporter("127.0.0.1", flags);
  reporter.Start();

  ASSERT_EQ(NextDatagram(monitor, 4000), (Bytes{2, 0, 0, 0}));
  const auto first = Clock::now();
  ASSERT_EQ(NextDatagram(monitor, 4000), (Bytes{2, 0, 0, 0}));
  const long long gap = MsSince(first);
  EXPECT_GE(gap, 1900);
  EXPECT_LE(gap, test::Scaled(3000));

  flags->CycleRunning = true;
  ASSERT_EQ(NextDatagram(monitor, 4000), (Bytes{3, 0, 0, 0}));
  ExpectTerminateEndsPromptly(reporter);
}

TEST(UDPReporterTest, BlankMonitorAddressSendsNothing) {
  platform::UdpReceiver monitor;
  ASSERT_TRUE(monitor.Bind("127.0.0.1", kMonitorPort));
  TUDPReporter reporter(" \t ", std::make_shared<TEngineFlags>());
  reporter.Start();
  // Long enough for one report to have gone out if any were sent.
  EXPECT_TRUE(NextDatagram(monitor, 3000).empty());
  ExpectTerminateEndsPromptly(reporter);
}

TEST(UDPReporterTest, TerminateWakesItAtOnceAndThePortIsConfigurable) {
  platform::UdpReceiver monitor;
  ASSERT_TRUE(monitor.Bind("127.0.0.1", 0));
  TUDPReporter reporter("127.0.0.1", std::make_shared<TEngineFlags>(), monitor.Port());
  reporter.Start();
  ASSERT_EQ(NextDatagram(monitor, 4000), (Bytes{2, 0, 0, 0}));

  const auto start = Clock::now();
  reporter.Terminate();
  reporter.WaitFor();
  EXPECT_LT(MsSince(start), test::Scaled(100));
}

}  // namespace
}  // namespace tv
