// The mark beside the store that tells the status command exporting is
// locked: the first lock's time holds, an unlock removes it, and a disk that
// refuses it costs a warning, never the lock.
#include "config/exportlockmark.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/fault_env.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "testutil.h"

namespace tv {
namespace {

TEST(ExportLockMark, FirstLockKeepsItsTimeUnlockRemovesIt) {
  test::TempDir home;
  const std::string store = home.Path() + "/registry.db";
  platform::Env& env = *platform::Env::Default();
  EXPECT_FALSE(config::ExportLockedSince(env, store));
  config::SetExportLockMark(env, store, false);  // nothing to clear

  config::SetExportLockMark(env, store, true);
  ASSERT_TRUE(platform::Env::Default()
                  ->SetLastWriteTime(config::ExportLockMarkPath(store),
                                     std::chrono::system_clock::from_time_t(1000000))
                  .ok());
  config::SetExportLockMark(env, store, true);
  EXPECT_EQ(config::ExportLockedSince(env, store), std::time_t{1000000}) << "a second DLE is not a new lock";

  config::SetExportLockMark(env, store, false);
  EXPECT_FALSE(config::ExportLockedSince(env, store));
  EXPECT_FALSE(platform::Env::Default()->FileExists(home.Path() + "/exports.locked"));
}

TEST(ExportLockMark, AMarkTheDiskRefusesIsAWarningOnly) {
  test::TempDir home;
  const std::string store = home.Path() + "/registry.db";
  platform::FaultInjectionEnv env(platform::Env::Default());
  env.AddFault({platform::FileOp::kWrite, "*/exports.locked", ENOSPC});
  std::vector<std::string> warnings;
  platform::SetLogSink([&](platform::LogLevel level, std::string_view line) {
    if (level == platform::LogLevel::Warning) warnings.emplace_back(line);
  });
  config::SetExportLockMark(env, store, true);
  platform::SetLogSink(nullptr);
  EXPECT_FALSE(config::ExportLockedSince(env, store));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("exports.locked cannot be written"), std::string::npos) << warnings[0];
}

}  // namespace
}  // namespace tv
