// The ledger file on its own: a delivery cut off before its record leaves
// nothing vouched for, records shared by scales are stored once, and a shop
// of 255 scales with 10,000 goods each stays within 100 MB.
#include "platform/ledger.h"

#include <gtest/gtest.h>
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

}  // namespace
}  // namespace tv::platform
