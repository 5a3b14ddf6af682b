// The ledger file on its own: a delivery cut off before its record leaves
// nothing vouched for, records shared by scales are stored once, and a shop
// of 255 scales with 10,000 goods each stays within 100 MB.
#include "platform/ledger.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "testutil.h"

namespace tv::platform {
namespace {

std::vector<uint8_t> Bytes(int goods, int price, size_t size = 60) {
  std::vector<uint8_t> b(size, 0x20);
  for (size_t i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(goods >> (8 * i));
  for (size_t i = 0; i < 4; ++i) b[4 + i] = static_cast<uint8_t>(price >> (8 * i));
  return b;
}

std::map<int, std::vector<uint8_t>> Held(Ledger& ledger, int scale) {
  std::vector<LedgerEntry> entries;
  EXPECT_TRUE(ledger.Holdings(scale, entries).ok());
  std::map<int, std::vector<uint8_t>> out;
  for (const LedgerEntry& e : entries) out[e.goods] = e.bytes;
  return out;
}

// Rows of `table` as the file has them, read through a connection of its own.
long long Rows(const std::string& path, const std::string& table) {
  sqlite3* db = nullptr;
  long long n = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* q = nullptr;
    const std::string sql = "SELECT count(*) FROM " + table;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr) == SQLITE_OK &&
        sqlite3_step(q) == SQLITE_ROW)
      n = sqlite3_column_int64(q, 0);
    sqlite3_finalize(q);
  }
  sqlite3_close(db);
  return n;
}

long long FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

TEST(LedgerFile, ACutOffDeliveryVouchesForNothingUntilTheNextOneEnds) {
  test::TempDir dir;
  const std::string path = dir / "ledger.db";
  const auto a = Bytes(1, 100), b = Bytes(2, 200), b2 = Bytes(2, 250);
  {
    Ledger ledger;
    ASSERT_TRUE(ledger.Open(path).ok());
    ASSERT_TRUE(ledger.Begin(7).ok());
    ASSERT_TRUE(ledger
                    .Record(7, "first.txt", 1000,
                            {{1, a.data(), a.size()}, {2, b.data(), b.size()}}, {false, true})
                    .ok());
    EXPECT_EQ(Held(ledger, 7).size(), 2u);
    // Begun, then the process dies before the record.
    ASSERT_TRUE(ledger.Begin(7).ok());
    EXPECT_TRUE(Held(ledger, 7).empty()) << "in flight: nothing vouched for";
  }
  Ledger ledger;
  ASSERT_TRUE(ledger.Open(path).ok());
  EXPECT_TRUE(Held(ledger, 7).empty());
  bool trusted = true;
  ASSERT_TRUE(ledger.Trusted(7, 1001, 3600, trusted).ok());
  EXPECT_FALSE(trusted);
  // The next delivery starts from nothing: 1 is not claimed though the
  // ledger once had it.
  ASSERT_TRUE(ledger.Begin(7).ok());
  ASSERT_TRUE(ledger.Record(7, "second.txt", 2000, {{2, b2.data(), b2.size()}}).ok());
  auto held = Held(ledger, 7);
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[2], b2);
  // A deletion removes; a failed delivery takes the trust away.
  ASSERT_TRUE(ledger.Begin(7).ok());
  ASSERT_TRUE(ledger.Record(7, "third.txt", 3000, {{2, nullptr, 0}}, {true, false}).ok());
  EXPECT_TRUE(Held(ledger, 7).empty());
  ASSERT_TRUE(ledger.Trusted(7, 3001, 3600, trusted).ok());
  EXPECT_FALSE(trusted);
  ASSERT_TRUE(ledger.Record(7, "fourth.txt", 4000, {}, {false, true}).ok());
  ASSERT_TRUE(ledger.Trusted(7, 4001, 3600, trusted).ok());
  EXPECT_TRUE(trusted);
  ASSERT_TRUE(ledger.Trusted(7, 4000 + 3600, 3600, trusted).ok());
  EXPECT_FALSE(trusted) << "older than the bound";
}

TEST(LedgerFile, AShopOf255ScalesWith10000GoodsEachStaysWithin100MB) {
  test::TempDir dir;
  const std::string path = dir / "ledger.db";
  Ledger ledger;
  ASSERT_TRUE(ledger.Open(path).ok());
  // Two profiles' worth of records of realistic size, every scale holding
  // one profile's set, as a shop's scales do.
  std::vector<std::vector<uint8_t>> records[2];
  for (int p = 0; p < 2; ++p)
    for (int g = 1; g <= 10000; ++g) records[p].push_back(Bytes(g, g * 3 + p, 90));
  for (int scale = 1; scale <= 255; ++scale) {
    std::vector<LedgerChange> changes;
    for (int g = 1; g <= 10000; ++g) {
      const auto& r = records[scale % 2][g - 1];
      changes.push_back({g, r.data(), r.size()});
    }
    ASSERT_TRUE(ledger.Begin(scale).ok());
    ASSERT_TRUE(ledger.Record(scale, "prices.txt", 1000, changes, {false, true}).ok());
  }
  const long long bytes = FileSize(path) + FileSize(path + "-wal");
  std::printf("ledger of 255 scales x 10000 goods: %.1f MB\n", bytes / 1e6);
  EXPECT_LE(bytes, 100LL * 1000 * 1000);
  EXPECT_EQ(Held(ledger, 200).size(), 10000u);
}

// Scales share one comparison with the ledger when their histories are
// equal, so equal histories must mean equal holdings.
TEST(LedgerFile, EqualHistoriesOnlyForEqualHoldings) {
  test::TempDir dir;
  Ledger ledger;
  ASSERT_TRUE(ledger.Open(dir / "ledger.db").ok());
  const auto a = Bytes(1, 100), b = Bytes(2, 200), b2 = Bytes(2, 250);
  auto deliver = [&](int scale, std::vector<LedgerChange> changes, bool failed = false) {
    ASSERT_TRUE(ledger.Begin(scale).ok());
    ASSERT_TRUE(ledger.Record(scale, "f.txt", 1000, changes, {failed, !failed}).ok());
  };
  auto history = [&](int scale) {
    std::optional<uint64_t> h;
    EXPECT_TRUE(ledger.History(scale, h).ok());
    return h;
  };
  for (int scale : {1, 2, 3}) deliver(scale, {{1, a.data(), a.size()}, {2, b.data(), b.size()}});
  deliver(3, {{2, b2.data(), b2.size()}});
  ASSERT_TRUE(history(1).has_value());
  EXPECT_EQ(history(1), history(2));
  EXPECT_NE(history(1), history(3));
  deliver(2, {{2, nullptr, 0}});
  EXPECT_NE(history(1), history(2)) << "a deletion changes what is held";
  deliver(1, {});
  deliver(4, {});
  EXPECT_EQ(history(4), std::optional<uint64_t>(0)) << "a new scale holds nothing";
  EXPECT_NE(history(1), history(4)) << "a clock-only delivery changes nothing held";
  // Cut off: its records are dropped, and so is its history.
  ASSERT_TRUE(ledger.Begin(1).ok());
  ASSERT_TRUE(ledger.Begin(1).ok());
  EXPECT_EQ(history(1), history(4));
  // Kept without a mark (no history known): never shared.
  ASSERT_TRUE(ledger.Record(5, "f.txt", 1000, {{1, a.data(), a.size()}}).ok());
  ASSERT_TRUE(ledger.Begin(5).ok());
  EXPECT_FALSE(history(5).has_value());
}

TEST(LedgerFile, PrunesRecordsAndFilesNoScaleHoldsAndForgetsTheirIds) {
  test::TempDir dir;
  const std::string path = dir / "ledger.db";
  const auto a = Bytes(1, 100), b = Bytes(2, 200), c = Bytes(3, 300), d = Bytes(2, 250);
  Ledger ledger;
  ASSERT_TRUE(ledger.Open(path).ok());
  EXPECT_TRUE(ledger.PruneDue()) << "once after opening";
  ASSERT_TRUE(ledger.Record(1, "old.txt", 1000, {{1, a.data(), a.size()}, {2, b.data(), b.size()}})
                  .ok());
  ASSERT_TRUE(ledger.Record(2, "old.txt", 1000, {{1, a.data(), a.size()}}).ok());
  // Scale 1 now holds d under 2 and nothing under 1; scale 2 still holds a.
  ASSERT_TRUE(
      ledger.Record(1, "new.txt", 2000, {{1, nullptr, 0}, {2, d.data(), d.size()}}).ok());
  ASSERT_EQ(Rows(path, "records"), 3);
  ASSERT_TRUE(ledger.Prune().ok());
  EXPECT_FALSE(ledger.PruneDue());
  EXPECT_EQ(Rows(path, "records"), 2) << "b went, a stays for scale 2";
  EXPECT_EQ(Rows(path, "files"), 2);
  ASSERT_TRUE(ledger.Record(2, "new.txt", 3000, {{1, nullptr, 0}}).ok());
  ASSERT_TRUE(ledger.Prune().ok());
  EXPECT_EQ(Rows(path, "records"), 1);
  EXPECT_EQ(Rows(path, "files"), 1) << "old.txt is held by none";

  // Records known before the prune must be stored again, not found by an
  // id whose row is gone or now holds other bytes.
  ASSERT_TRUE(ledger.Record(3, "next.txt", 4000, {{3, c.data(), c.size()}}).ok());
  ASSERT_TRUE(ledger.Record(4, "next.txt", 4000, {{1, a.data(), a.size()}}).ok());
  ASSERT_TRUE(ledger.Record(5, "next.txt", 4000, {{2, b.data(), b.size()}}).ok());
  EXPECT_EQ(Held(ledger, 3)[3], c);
  EXPECT_EQ(Held(ledger, 4)[1], a);
  EXPECT_EQ(Held(ledger, 5)[2], b);
  EXPECT_EQ(Held(ledger, 1)[2], d);
  std::vector<LedgerEntry> entries;
  ASSERT_TRUE(ledger.Holdings(4, entries).ok());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].file, "next.txt");
}

TEST(LedgerFile, AnotherWritersChangeIsNotHiddenByWhatTheOpenLedgerRemembers) {
  test::TempDir dir;
  const std::string path = dir / "ledger.db";
  const auto a = Bytes(1, 100), b = Bytes(1, 200);
  Ledger ledger;
  ASSERT_TRUE(ledger.Open(path).ok());
  ASSERT_TRUE(ledger.Record(1, "a.txt", 1000, {{1, a.data(), a.size()}}).ok());
  {
    Ledger other;
    ASSERT_TRUE(other.Open(path).ok());
    ASSERT_TRUE(other.Record(1, "b.txt", 2000, {{1, b.data(), b.size()}}).ok());
  }
  // Unchanged as far as the first connection last wrote: it must write anyway.
  ASSERT_TRUE(ledger.Record(1, "a.txt", 3000, {{1, a.data(), a.size()}}).ok());
  EXPECT_EQ(Held(ledger, 1)[1], a);
}

TEST(LedgerFile, AGroupCutOffBeforeItsCommitLeavesEveryScaleOfItUnvouched) {
  test::TempDir dir;
  const std::string path = dir / "ledger.db";
  const auto a = Bytes(1, 100), b = Bytes(1, 200);
  {
    Ledger ledger;
    ASSERT_TRUE(ledger.Open(path).ok());
    for (int scale : {1, 2}) ASSERT_TRUE(ledger.Record(scale, "a.txt", 1000, {{1, a.data(), a.size()}}).ok());
    ASSERT_TRUE(ledger.BeginGroup().ok());
    ASSERT_TRUE(ledger.Begin(1).ok());
    ASSERT_TRUE(ledger.Begin(2).ok());
    ASSERT_TRUE(ledger.EndGroup().ok());
    ASSERT_TRUE(ledger.BeginGroup().ok());
    ASSERT_TRUE(ledger.Record(1, "b.txt", 2000, {{1, b.data(), b.size()}}).ok());
    EXPECT_EQ(Held(ledger, 1)[1], b) << "each scale's part is visible inside the group";
    // The process dies here: scale 2's answer never came, scale 1's record
    // was never committed.
  }
  Ledger ledger;
  ASSERT_TRUE(ledger.Open(path).ok());
  EXPECT_TRUE(Held(ledger, 1).empty());
  EXPECT_TRUE(Held(ledger, 2).empty());
  // A whole group commits every scale's part.
  ASSERT_TRUE(ledger.BeginGroup().ok());
  ASSERT_TRUE(ledger.Begin(1).ok());
  ASSERT_TRUE(ledger.Begin(2).ok());
  ASSERT_TRUE(ledger.EndGroup().ok());
  ASSERT_TRUE(ledger.BeginGroup().ok());
  ASSERT_TRUE(ledger.Record(1, "b.txt", 2000, {{1, b.data(), b.size()}}).ok());
  ASSERT_TRUE(ledger.Record(2, "b.txt", 2000, {{1, b.data(), b.size()}}).ok());
  ASSERT_TRUE(ledger.EndGroup().ok());
  Ledger reader;
  ASSERT_TRUE(reader.Open(path, true).ok());
  EXPECT_EQ(Held(reader, 1)[1], b);
  EXPECT_EQ(Held(reader, 2)[1], b);
}

}  // namespace
}  // namespace tv::platform
