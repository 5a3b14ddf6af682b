#include "cli/lockclient.h"

#include <gtest/gtest.h>

#include <sstream>

#include "paramserver/paramserver.h"
#include "paramserver/paramtestkit.h"

namespace tv {
namespace {

using namespace std::chrono_literals;

struct LockRun {
  int code;
  std::string out, err;
};

LockRun RunLock(bool lock, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  int code = RunLockCommand(lock, static_cast<int>(argv.size()), argv.data(), out, err);
  return {code, out.str(), err.str()};
}

TEST(LockClientTest, LocksAndUnlocksARunningServer) {
  test::TempDir dir;
  platform::GuardedRegistry registry(dir.File("registry.db"));
  auto flags = std::make_shared<TEngineFlags>();
  constexpr uint16_t kPort = 4057;
  TParamServer server({&registry, flags, [] { return true; }}, kPort);
  server.Start();
  ASSERT_TRUE(test::ConnectWithin(kPort, 5s).Valid());

  LockRun r = RunLock(true, {"127.0.0.1", "--port", "4057"});
  EXPECT_EQ(r.code, kLockAccepted);
  EXPECT_EQ(r.out, "accepted\n");
  EXPECT_TRUE(flags->ExportsLocked);

  r = RunLock(false, {"--port", "4057"});
  EXPECT_EQ(r.code, kLockAccepted);
  EXPECT_FALSE(flags->ExportsLocked);

  flags->CycleRunning = true;
  r = RunLock(true, {"--port", "4057"});
  EXPECT_EQ(r.code, kLockNotAccepted);
  EXPECT_EQ(r.out, "busy: an export cycle is running\n");
  EXPECT_FALSE(flags->ExportsLocked);
  server.Terminate();
}

TEST(LockClientTest, ReportsWhenNothingAnswers) {
  LockRun r = RunLock(true, {});
  EXPECT_EQ(r.code, kLockNoAnswer);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("no parameter server at 127.0.0.1:3057"), std::string::npos) << r.err;

  EXPECT_EQ(RunLock(true, {"--port", "70000"}).code, kLockUsage);
  EXPECT_EQ(RunLock(false, {"not-a-host"}).code, kLockUsage);
  EXPECT_EQ(RunLock(false, {"127.0.0.1", "extra"}).code, kLockUsage);
}

}  // namespace
}  // namespace tv
