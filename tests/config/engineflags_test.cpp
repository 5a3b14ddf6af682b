// The gate between the engine starting a cycle and the parameter server's
// lock and exchange, hammered from two threads as the real ones meet.
#include "config/engineflags.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tv {
namespace {

TEST(EngineFlagsGate, ALockOnceGrantedIsNeverFollowedByACycle) {
  TEngineFlags flags;
  std::atomic<bool> locked{false};  // the server's view: ACK sent, DC1 not yet
  std::atomic<int> violations{0}, cycles{0}, locks{0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  auto done = [&] {
    return (cycles >= 2000 && locks >= 2000) || std::chrono::steady_clock::now() > deadline;
  };
  std::thread engine([&] {
    while (!done()) {
      if (flags.TryBeginCycle()) {
        ++cycles;
        if (locked) ++violations;  // a cycle began while an acknowledged lock stood
        flags.CycleRunning = false;
      }
      std::this_thread::yield();
    }
  });
  std::thread server([&] {
    while (!done()) {
      if (flags.TryLockExports()) {
        ++locks;
        locked = true;
        locked = false;
        flags.ExportsLocked = false;  // DC1
      }
      std::this_thread::yield();
    }
  });
  engine.join();
  server.join();
  EXPECT_EQ(violations.load(), 0);
  EXPECT_GE(cycles.load(), 2000);
  EXPECT_GE(locks.load(), 2000);
}

TEST(EngineFlagsGate, AnExchangePutsTheCycleOffAndTheNextExchangeWaitsForIt) {
  TEngineFlags flags;
  ASSERT_TRUE(flags.TryOpenExchange());
  EXPECT_FALSE(flags.TryBeginCycle());
  EXPECT_TRUE(flags.CycleWanted);
  EXPECT_TRUE(flags.CloseExchange()) << "the end of the exchange asks for the cycle";
  EXPECT_FALSE(flags.TryOpenExchange()) << "BS until the wanted cycle has begun";
  ASSERT_TRUE(flags.TryBeginCycle());
  EXPECT_FALSE(flags.TryLockExports()) << "a begun cycle answers the lock with BS";
  EXPECT_FALSE(flags.TryOpenExchange());
  flags.CycleRunning = false;
  EXPECT_TRUE(flags.TryOpenExchange());
  EXPECT_FALSE(flags.CloseExchange()) << "nothing was put off this time";

  // Locked: the lock, not the exchange, holds the cycle, so exchanges go on.
  ASSERT_TRUE(flags.TryLockExports());
  EXPECT_FALSE(flags.TryBeginCycle());
  EXPECT_TRUE(flags.TryOpenExchange());
  EXPECT_FALSE(flags.CloseExchange());
}

TEST(EngineFlagsGate, ExchangesRunOneAtATime) {
  TEngineFlags flags;
  ASSERT_TRUE(flags.TryOpenExchange());
  EXPECT_FALSE(flags.TryOpenExchange()) << "a second client's ENQ is answered BS";
  EXPECT_TRUE(flags.TryLockExports()) << "a lock needs no exchange";
  EXPECT_FALSE(flags.WaitForNoExchange(1));
  std::thread closer([&] { flags.CloseExchange(); });
  EXPECT_TRUE(flags.WaitForNoExchange(10000)) << "the end of an exchange wakes the next one";
  closer.join();
  EXPECT_TRUE(flags.TryOpenExchange());
}

}  // namespace
}  // namespace tv
