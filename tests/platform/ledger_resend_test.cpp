// Resend requests in the ledger: taken once, in the order they were asked,
// withdrawn ones never; a ledger without the table has none to give.
#include <gtest/gtest.h>

#include "platform/ledger.h"
#include "testutil.h"

namespace tv::platform {
namespace {

ResendRequest Request(const std::string& file, int scale, int64_t asked) {
  ResendRequest r;
  r.file = file;
  r.scale = scale;
  r.from = 4;
  r.records = 10000;
  r.who = "uid 0 (root), through sudo by anna";
  r.asked = asked;
  return r;
}

TEST(LedgerResend, RequestsAreTakenOnceAndWithdrawnOnesNever) {
  test::TempDir dir;
  const std::string path = dir / "ledger.db";
  Ledger service;
  ASSERT_TRUE(service.Open(path).ok());
  std::vector<ResendRequest> taken = {Request("stale", 1, 1)};
  ASSERT_TRUE(service.TakeResendRequests(taken).ok()) << "no table yet";
  EXPECT_TRUE(taken.empty());

  {
    Ledger command;
    ASSERT_TRUE(command.Open(path).ok());
    ASSERT_TRUE(command.NoteResend(Request("{B}resendfrom004009.txt", 9, 200)).ok());
    ASSERT_TRUE(command.NoteResend(Request("{A}resendfrom004007.txt", 7, 100)).ok());
    ASSERT_TRUE(command.NoteResend(Request("{C}resendfrom004008.txt", 8, 300)).ok());
    ASSERT_TRUE(command.WithdrawResend("{C}resendfrom004008.txt").ok());
  }
  ASSERT_TRUE(service.TakeResendRequests(taken).ok());
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].file, "{A}resendfrom004007.txt");
  EXPECT_EQ(taken[0].scale, 7);
  EXPECT_EQ(taken[1].scale, 9);
  EXPECT_EQ(taken[1].from, 4);
  EXPECT_EQ(taken[1].records, 10000);
  EXPECT_EQ(taken[1].who, "uid 0 (root), through sudo by anna");
  ASSERT_TRUE(service.TakeResendRequests(taken).ok());
  EXPECT_TRUE(taken.empty()) << "each is said once";
}

}  // namespace
}  // namespace tv::platform
