// The cycle's summary counts, the stop's "busy with" text and the words for
// every result code.
#include "engine/cyclereport.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "scale/resultmeaning.h"
#include "scale/scaletypes.h"
#include "sm700/XMLKeyboard.h"

namespace tv {
namespace {

TEST(CycleTally, AScaleCountsAsDeliveredOnlyWhenEveryAttemptSucceeded) {
  TCycleTally tally;
  tally.File();
  tally.File();
  tally.Attempt(3, 0);
  tally.Attempt(3, 2);   // the second file failed for scale 3
  tally.Attempt(4, 0);
  tally.Attempt(4, 0);
  tally.Attempt(-1, 6);  // an unreadable file names no scale
  EXPECT_EQ(tally.StatusLine("10:04", 1), "last cycle 10:04: 2 files, 1 of 2 scales delivered, 1 file parked");
  EXPECT_EQ(tally.Summary(0).rfind("2 files, 2 scales: 1 delivered, 1 failed, 0 files parked, ", 0), 0u)
      << tally.Summary(0);
}

TEST(CycleProgress, NamesTheFileAndTheScalesInFlight) {
  TCycleProgress progress;
  EXPECT_EQ(progress.Describe(), "");
  progress.Busy("prices.txt", {3, 4});
  EXPECT_EQ(progress.Describe(), "prices.txt to scales 3, 4");
  progress.Busy("keys.xml", {7});
  EXPECT_EQ(progress.Describe(), "keys.xml to scale 7");
  progress.Idle();
  EXPECT_EQ(progress.Describe(), "");
}

TEST(ResultMeaning, EveryCodeADeliveryCanEndWithHasItsOwnWords) {
  const int codes[] = {kResultDelivered, kResultNetworkError, kResultUnreachable, kResultRejected,
                       kResultEncodeFailed, kResultNothingToSend, kKbNoHello, kKbKeyboardRefused,
                       kKbNoConnection, kKbKeyRefused, kKbFileUnreadable};
  std::set<std::string> seen;
  for (int code : codes) {
    const std::string words = ResultMeaning(code);
    EXPECT_NE(words, ResultMeaning(-1)) << code;
    EXPECT_TRUE(seen.insert(words).second) << "two codes read alike: " << words;
  }
}

}  // namespace
}  // namespace tv
