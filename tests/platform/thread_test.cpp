#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>

#include "platform/event.h"
#include "testutil.h"

namespace tv::platform {
namespace {

using Clock = std::chrono::steady_clock;

// A worker whose work the test gives.
class Worker : public Thread {
 public:
  explicit Worker(std::function<int(Worker&)> work) : work_(std::move(work)) {}
  ~Worker() override { WaitFor(); }
  using Thread::SleepUnlessTerminated;
  using Thread::StopToken;
  using Thread::WakeOnStop;

 protected:
  int Execute() override { return work_(*this); }

 private:
  std::function<int(Worker&)> work_;
};

TEST(ThreadTest, WaitForGivesTheResultAndAnEscapedExceptionGivesMinusOne) {
  Worker ok([](Worker&) { return 17; });
  EXPECT_FALSE(ok.Started());
  ok.Start();
  EXPECT_EQ(ok.WaitFor(), 17);
  EXPECT_TRUE(ok.Finished());
  EXPECT_EQ(ok.WaitFor(), 17);  // again, after the join

  Worker throws([](Worker&) -> int { throw std::runtime_error("x"); });
  throws.Start();
  EXPECT_EQ(throws.WaitFor(), -1);
}

TEST(ThreadTest, TerminateEndsASleepAtOnce) {
  std::atomic<int> naps{0};
  Worker w([&naps](Worker& self) {
    while (self.SleepUnlessTerminated(60000)) ++naps;
    return self.StopToken().stop_requested() ? 1 : 0;
  });
  w.Start();
  const auto start = Clock::now();
  w.Terminate();
  EXPECT_EQ(w.WaitFor(), 1);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(test::Scaled(5000)));
  EXPECT_EQ(naps.load(), 0);
}

TEST(ThreadTest, SleepWithoutStopLastsItsTime) {
  Worker w([](Worker& self) { return self.SleepUnlessTerminated(100) ? 1 : 0; });
  const auto start = Clock::now();
  w.Start();
  EXPECT_EQ(w.WaitFor(), 1);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
}

// A worker blocked where the token cannot reach is woken by what it
// registered; one registered after the request runs at once.
TEST(ThreadTest, WakeOnStopWakesABlockedWorker) {
  Event blocker("test_blocker");
  Worker w([&blocker](Worker& self) { return blocker.Wait(-1) && self.Terminated() ? 1 : 0; });
  w.WakeOnStop([&blocker] { blocker.Set(); });
  w.Start();
  EXPECT_FALSE(blocker.IsSet());
  w.Terminate();
  EXPECT_EQ(w.WaitFor(), 1);

  Event late("test_late");
  Worker done([](Worker&) { return 0; });
  done.Terminate();
  done.WakeOnStop([&late] { late.Set(); });
  EXPECT_TRUE(late.IsSet());
}

TEST(ThreadTest, TerminateBeforeStartIsSeenByTheWorker) {
  Worker w([](Worker& self) { return self.Terminated() ? 1 : 0; });
  w.Terminate();
  w.Start();
  EXPECT_EQ(w.WaitFor(), 1);
}

}  // namespace
}  // namespace tv::platform
