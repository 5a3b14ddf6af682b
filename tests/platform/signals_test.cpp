#include "platform/signals.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <future>

namespace tv::platform {
namespace {

TEST(Signals, BlockedTerminationSignalIsAwaitedNotFatal) {
  ASSERT_TRUE(BlockTerminationSignals());
  // A thread started after blocking inherits the mask, so the signal stays
  // pending until the waiter takes it.
  auto waiter = std::async(std::launch::async, [] { return WaitForTerminationSignal(); });
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  EXPECT_EQ(waiter.get(), SIGTERM);
  ASSERT_EQ(kill(getpid(), SIGINT), 0);
  EXPECT_EQ(WaitForTerminationSignal(), SIGINT);
}

}  // namespace
}  // namespace tv::platform
