// The service's facts: what the file keeps for `tovalink status`, and the
// log that tells each change of a scale once.
#include "engine/servicefacts.h"

#include <gtest/gtest.h>

#include "logcapture.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "scale/scaletypes.h"
#include "testutil.h"

namespace tv {
namespace {

using platform::LogLevel;

TEST(ServiceFactsFile, ReadsBackWhatItWroteWithSeparatorsInTextsBlanked) {
  TFactsRecord r;
  r.cyclesBlocked = "SocketPort\tnot a REG_DWORD";
  r.lockedSince = 1700000000;
  r.rejected = {2, "junk.txt", "no line\nreadable", 1700000100};
  r.lastFile = {"prices.txt", 5, 2, 3, "A line of 132 characters"};
  TScaleFacts& down = r.scales[4];
  down.known = true;
  down.downSince = 1700000200;
  down.lastRetry = 1700000300;
  down.cause = "connection refused on port 3004";
  down.keyboardCode = 15;
  down.keyboardFile = "keys.xml";
  r.scales[5].busy = true;

  const TFactsRecord back = ParseFacts(FormatFacts(r) + "a line of a newer version\tx\n");
  EXPECT_EQ(back.cyclesBlocked, "SocketPort not a REG_DWORD");
  EXPECT_EQ(back.lockedSince, r.lockedSince);
  EXPECT_EQ(back.rejected.count, 2);
  EXPECT_EQ(back.rejected.newest, "junk.txt");
  EXPECT_EQ(back.rejected.reason, "no line readable");
  EXPECT_EQ(back.rejected.when, 1700000100);
  EXPECT_EQ(back.lastFile.name, "prices.txt");
  EXPECT_EQ(back.lastFile.skipped, 2u);
  EXPECT_EQ(back.lastFile.firstLine, 3u);
  EXPECT_EQ(back.lastFile.firstReason, "A line of 132 characters");
  ASSERT_EQ(back.scales.size(), 2u);
  const TScaleFacts& d = back.scales.at(4);
  EXPECT_TRUE(d.known);
  EXPECT_FALSE(d.delivered);
  EXPECT_EQ(d.downSince, 1700000200);
  EXPECT_EQ(d.lastRetry, 1700000300);
  EXPECT_EQ(d.cause, "connection refused on port 3004");
  EXPECT_EQ(d.keyboardCode, 15);
  EXPECT_EQ(d.keyboardFile, "keys.xml");
  EXPECT_TRUE(back.scales.at(5).busy);
  EXPECT_FALSE(back.scales.at(5).known);
  EXPECT_TRUE(ParseFacts("cycles\trun\n").cyclesBlocked.empty());
}

TEST(ServiceFactsFile, KeepsTheCountsAndTimesAWatcherReads) {
  TFactsRecord r;
  r.started = 1700000000;
  r.cycles = 7;
  r.cyclesMs = 4200;
  r.recentCycles = {{1700000010, 300}, {1700000020, 900}};
  TScaleFacts& s = r.scales[3];
  s.known = true;
  s.lastAttempt = 1700000020;
  s.lastSuccess = 1700000010;
  s.deliveries = {{0, 5}, {2, 1}};
  s.frames = 42;

  const TFactsRecord back = ParseFacts(FormatFacts(r));
  EXPECT_EQ(back.started, 1700000000);
  EXPECT_EQ(back.cycles, 7);
  EXPECT_EQ(back.cyclesMs, 4200);
  ASSERT_EQ(back.recentCycles.size(), 2u);
  EXPECT_EQ(back.recentCycles[1].started, 1700000020);
  EXPECT_EQ(back.recentCycles[1].ms, 900);
  const TScaleFacts& b = back.scales.at(3);
  EXPECT_EQ(b.lastAttempt, 1700000020);
  EXPECT_EQ(b.lastSuccess, 1700000010);
  EXPECT_EQ(b.deliveries, (std::map<int, long long>{{0, 5}, {2, 1}}));
  EXPECT_EQ(b.frames, 42);
}

class ServiceFactsLog : public ::testing::Test {
 protected:
  test::TempDir dir;
  test::LogCapture log;
  std::string Store() const { return dir / "registry.db"; }
  size_t Lines(LogLevel level, const std::vector<std::string>& parts) const {
    return log.Count(level, parts);
  }
};

TEST_F(ServiceFactsLog, AScaleGoesDownOnceAndComesBackOnceWithItsBacklog) {
  TServiceFacts facts(Store(), 3600);
  EXPECT_TRUE(
      facts.GoodsAttempt(4, "127.0.0.4", "a.txt", kResultUnreachable, "no ping reply", false));
  EXPECT_FALSE(facts.GoodsAttempt(4, "127.0.0.4", "b.txt", kResultHeldBack, "", false));
  EXPECT_FALSE(facts.CycleEnded([] {
    return TServiceFacts::TParkedCounts{{4, {2, 0}}};
  })) << "no reminder before the interval";
  EXPECT_FALSE(
      facts.GoodsAttempt(4, "127.0.0.4", "{G}a004.txt", kResultUnreachable, "no ping reply", true));
  EXPECT_EQ(
      Lines(LogLevel::Warning, {"scale 4 (127.0.0.4): a.txt: code 2", "no ping reply", "is down"}),
      1u);
  EXPECT_EQ(Lines(LogLevel::Warning, {"scale 4"}), 1u);
  // The held-back file keeps the cause that held it back.
  EXPECT_EQ(facts.Snapshot().scales.at(4).cause, "no ping reply");

  EXPECT_TRUE(facts.GoodsAttempt(4, "127.0.0.4", "{G}a004.txt", kResultDelivered, "", true));
  EXPECT_FALSE(facts.GoodsAttempt(4, "127.0.0.4", "{G}b004.txt", kResultDelivered, "", true));
  EXPECT_TRUE(facts.CycleEnded([] { return TServiceFacts::TParkedCounts{}; }));
  EXPECT_EQ(Lines(LogLevel::Info, {"scale 4 (127.0.0.4) back: 2 parked files delivered"}), 1u);
  EXPECT_EQ(Lines(LogLevel::Info, {"{G}"}), 0u) << "the backlog is one line";
  EXPECT_FALSE(facts.CycleEnded([] { return TServiceFacts::TParkedCounts{}; }));
  const TScaleFacts s = facts.Snapshot().scales.at(4);
  EXPECT_EQ(s.downSince, 0);
  EXPECT_TRUE(s.delivered);
  EXPECT_EQ(s.cause, "");
}

TEST_F(ServiceFactsLog, ADownScaleIsRemindedOfWithItsParkedFiles) {
  TServiceFacts facts(Store(), 0);
  facts.GoodsAttempt(7, "127.0.0.7", "a.txt", kResultNetworkError,
                     "no answer within 15 s to frame 1", false);
  EXPECT_TRUE(facts.CycleEnded([] {
    return TServiceFacts::TParkedCounts{{7, {3, std::time(nullptr) - 7200}}};
  }));
  EXPECT_EQ(Lines(LogLevel::Warning,
                  {"scale 7 (127.0.0.7) still down since ", "(no answer within 15 s to frame 1)",
                   "3 files parked, the oldest 2h 0m old; latest retry "}),
            1u);
}

TEST_F(ServiceFactsLog, AnUnlistedScaleIsWarnedOfOnceUntilForgotten) {
  TServiceFacts facts(Store());
  for (int i = 0; i < 3; ++i) facts.Unlisted(9, "{G}p009.txt", 2);
  EXPECT_EQ(Lines(LogLevel::Warning,
                  {"scale 9 is not in the scale list: 2 files parked for it ({G}p009.txt, ...)",
                   "tovalink unsent drop --scale 9 --all"}),
            1u);
  facts.ForgetUnlisted();
  facts.Unlisted(9, "{G}p009.txt", 2);
  EXPECT_EQ(Lines(LogLevel::Warning, {"scale 9 is not in the scale list"}), 2u);
}

TEST_F(ServiceFactsLog, TheFileFollowsEveryChange) {
  TServiceFacts facts(Store());
  std::string text;
  ASSERT_TRUE(platform::Env::Default()->ReadFile(FactsPath(Store()), &text).ok());
  // A fresh start: cycles run, and when it started.
  EXPECT_EQ(text.rfind("cycles\trun\nstarted\t", 0), 0u) << text;
  facts.Busy({3});
  facts.Rejected("junk.txt", "nothing readable");
  ASSERT_TRUE(platform::Env::Default()->ReadFile(FactsPath(Store()), &text).ok());
  const TFactsRecord r = ParseFacts(text);
  EXPECT_TRUE(r.scales.at(3).busy);
  EXPECT_EQ(r.rejected.count, 1);
  facts.Busy({});
  ASSERT_TRUE(platform::Env::Default()->ReadFile(FactsPath(Store()), &text).ok());
  EXPECT_FALSE(ParseFacts(text).scales.at(3).busy);
}

TEST_F(ServiceFactsLog, CountsAttemptsByCodeAndKeepsOnlyTheLastCycles) {
  TServiceFacts facts(Store());
  facts.FramesSent(2, 3);
  facts.GoodsAttempt(2, "127.0.0.2", "a.txt", kResultDelivered, "", false);
  facts.FramesSent(2, 1);
  facts.GoodsAttempt(2, "127.0.0.2", "b.txt", 2, "refused", false);
  facts.GoodsAttempt(2, "127.0.0.2", "b.txt", 2, "refused", true);
  for (int i = 0; i < 8; ++i) facts.CycleTimed(1700000000 + i, 100 * i);

  const TFactsRecord r = ParseFacts(test::ReadFile(FactsPath(Store())));
  const TScaleFacts& s = r.scales.at(2);
  EXPECT_EQ(s.deliveries, (std::map<int, long long>{{0, 1}, {2, 2}}));
  EXPECT_EQ(s.frames, 4);
  EXPECT_GT(s.lastSuccess, 0);
  EXPECT_GE(s.lastAttempt, s.lastSuccess);
  EXPECT_GT(r.started, 0);
  EXPECT_EQ(r.cycles, 8);
  EXPECT_EQ(r.cyclesMs, 2800);
  ASSERT_EQ(r.recentCycles.size(), TServiceFacts::kRecentCycles);
  EXPECT_EQ(r.recentCycles.front().started, 1700000003);
  EXPECT_EQ(r.recentCycles.back().ms, 700);
}

}  // namespace
}  // namespace tv
