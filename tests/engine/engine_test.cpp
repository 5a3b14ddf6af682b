// The engine loop with a cycle the test controls: cycles start on waiting
// files, not while exports are locked, and stop requests are honoured at
// once when idle and after the cycle when busy.  Runs in its own network
// namespace because the engine opens its servers.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <atomic>

#include "engine/engine_config.h"
#include "platform/env.h"
#include "platform/event.h"
#include "platform/fs.h"
#include "platform/tick.h"
#include "testutil.h"

namespace tv {
namespace {

// A cycle that runs until the test releases it.
class HeldCycle : public platform::Thread {
 public:
  HeldCycle(TEngine& engine, platform::Event& release, std::atomic<int>& running)
      : engine_(engine), release_(release), running_(running) {}
  ~HeldCycle() override { WaitFor(); }

 protected:
  int Execute() override {
    ++running_;
    release_.Wait();
    --running_;
    engine_.SignalCycleEnd();
    return 0;
  }

 private:
  TEngine& engine_;
  platform::Event& release_;
  std::atomic<int>& running_;
};

class EngineTest : public ::testing::Test {
 protected:
  EngineTest() {
    setenv("TOVALINK_HOME", dir.Path().c_str(), 1);
    platform::Registry reg(dir / "registry.db");
    CreateDefaults(reg);
    platform::RegistryKey product = reg.Open(kProductKey, false);
    product.WriteInteger("VerInterval", 0);
    product.WriteString("ExportDir", dir / "export");
    product.WriteString("LogoDir", dir / "log");
  }
  std::unique_ptr<TEngine> StartEngine(
      std::chrono::milliseconds quietPeriod = CFiles::kQuietPeriod) {
    TEngineOptions o;
    o.storePath = dir / "registry.db";
    o.quietPeriod = quietPeriod;
    o.cycleFactory = [this](TEngine& e) { return std::make_unique<HeldCycle>(e, release, running); };
    return std::make_unique<TEngine>(o);
  }
  void DropFile() { test::WriteFile(dir / "export/prices.txt", "D1\r\n"); }

  test::TempDir dir;
  platform::Event release;
  std::atomic<int> running{0};
};

TEST_F(EngineTest, AWaitingFileStartsOneCycleAndTheTimerPausesMeanwhile) {
  auto engine = StartEngine();
  EXPECT_TRUE(platform::Env::Default()->DirectoryExists(dir / "export/Unsent"));
  EXPECT_TRUE(platform::Env::Default()->DirectoryExists(dir / "log"));
  DropFile();
  // The engine counts a cycle once its thread has started, which may be
  // after the cycle is already running.
  ASSERT_TRUE(test::WaitUntil([&] { return running.load() == 1 && engine->CyclesStarted() >= 1; }, 3000));
  EXPECT_TRUE(engine->Flags().CycleRunning);
  EXPECT_FALSE(engine->TimerEnabled());
  EXPECT_EQ(engine->CyclesStarted(), 1);
  release.Set();
  ASSERT_TRUE(test::WaitUntil([&] { return !engine->Flags().CycleRunning && engine->TimerEnabled(); }, 3000));
  // The file is still there (the held cycle does not deliver), so the next
  // check starts another cycle.
  ASSERT_TRUE(test::WaitUntil([&] { return engine->CyclesStarted() >= 2; }, 3000));
  engine->RequestStop();
  engine->WaitFor();
}

TEST_F(EngineTest, NoCycleStartsWhileExportsAreLocked) {
  auto engine = StartEngine(std::chrono::milliseconds(0));  // every check finds the file
  engine->Flags().ExportsLocked = true;
  DropFile();
  // Three timer checks find the file and start no cycle.
  const int checks = engine->TimerChecks();
  ASSERT_TRUE(
      test::WaitUntil([&] { return engine->TimerChecks() >= checks + 3; }, test::Scaled(3000)));
  EXPECT_EQ(engine->CyclesStarted(), 0);
  engine->Flags().ExportsLocked = false;
  ASSERT_TRUE(test::WaitUntil([&] { return engine->CyclesStarted() == 1; }, 3000));
  release.Set();
  engine->RequestStop();
  engine->WaitFor();
}

TEST_F(EngineTest, StopWhileIdleEndsAtOnce) {
  auto engine = StartEngine();
  uint32_t t0 = platform::TickCount();
  engine->RequestStop();
  engine->WaitFor();
  engine.reset();
  EXPECT_LT(platform::TickCount() - t0, static_cast<uint32_t>(test::Scaled(1000)));
}

TEST_F(EngineTest, StopDuringACycleWaitsForTheCycle) {
  auto engine = StartEngine();
  DropFile();
  ASSERT_TRUE(test::WaitUntil([&] { return running.load() == 1; }, 3000));
  engine->RequestStop();
  std::atomic<bool> stopped{false};
  std::thread waiter([&] {
    engine->WaitFor();
    stopped = true;
  });
  // The engine must still be waiting for the held cycle.
  EXPECT_FALSE(test::WaitUntil([&] { return stopped.load(); }, 700));
  release.Set();
  EXPECT_TRUE(test::WaitUntil([&] { return stopped.load(); }, 3000));
  waiter.join();
  EXPECT_EQ(running.load(), 0);
}

TEST_F(EngineTest, ACycleThatCannotBeCreatedLeavesTheEngineStoppable) {
  TEngineOptions o;
  o.storePath = dir / "registry.db";
  std::atomic<int> attempts{0};
  o.cycleFactory = [&](TEngine&) -> std::unique_ptr<platform::Thread> {
    ++attempts;
    throw std::runtime_error("missing SocketPort");
  };
  TEngine engine(o);
  DropFile();
  // The factory runs before the engine has undone its start of the cycle.
  ASSERT_TRUE(test::WaitUntil(
      [&] { return attempts.load() >= 1 && !engine.Flags().CycleRunning && engine.TimerEnabled(); }, 3000));
  engine.RequestStop();
  engine.WaitFor();
}

// `systemctl reload` after a changed VerInterval: the timer takes the new
// period too.
TEST_F(EngineTest, ReloadReplacesSettingsAndTheTimerPeriod) {
  auto engine = StartEngine();
  TEngineSettingsPtr before = engine->Settings();
  {
    platform::Registry reg(dir / "registry.db");
    platform::RegistryKey product = reg.Open(kProductKey, false);
    product.WriteInteger("VerInterval", 60);
    product.WriteString("FileMask", "*.txt");
  }
  ASSERT_TRUE(engine->Reload());
  EXPECT_EQ(engine->Settings()->VerInterval, 60);
  EXPECT_EQ(engine->Settings()->FileMask, "*.txt");
  EXPECT_EQ(before->FileMask, "*.*") << "a reader keeps its snapshot";
  EXPECT_EQ(engine->TimerPeriodMs(), 60000);
  release.Set();
  engine->RequestStop();
  engine->WaitFor();
}

TEST_F(EngineTest, StartFailsWithoutVerInterval) {
  {
    platform::Registry reg(dir / "registry.db");
    reg.Open(kProductKey, false).DeleteValue("VerInterval");
  }
  TEngineOptions o;
  o.storePath = dir / "registry.db";
  EXPECT_THROW(TEngine{o}, std::runtime_error);
}

}  // namespace
}  // namespace tv
