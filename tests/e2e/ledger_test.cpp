// The delivery ledger seen from outside: after the real service delivers to
// simulated scales, it holds exactly the goods records each scale
// acknowledged, never one a scale may not hold, and `tovalink goods` reads it.
#include "platform/ledger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <regex>

#include "platform/net.h"
#include "site.h"

namespace tv::test {
namespace {

// The A line GoodsFile gives goods number `code`, with another price.
std::string GoodsLine(int code, const std::string& price = "00001.50") {
  std::string file = GoodsFile(code);
  std::string a = file.substr(file.find("\r\n") + 2);
  a = a.substr(0, a.find("\r\n"));
  a.replace(a.find("00001.50"), 8, price);
  return a + "\r\n";
}

std::string Deletion(int code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "D%06d\r\n", code);
  return buf;
}

const std::string kClock = "T202403050907\r\n";

std::map<int, std::vector<uint8_t>> Held(Site& site, int scale) {
  std::map<int, std::vector<uint8_t>> out;
  platform::Ledger ledger;
  if (!ledger.Open(site.home / "ledger.db", true).ok()) return out;
  std::vector<platform::LedgerEntry> entries;
  EXPECT_TRUE(ledger.Holdings(scale, entries).ok());
  for (const auto& e : entries) out[e.goods] = e.bytes;
  return out;
}

int Goods(Site& site, const std::vector<std::string>& args, std::string& out) {
  std::vector<std::string> all = {TovalinkBinary(), "goods"};
  all.insert(all.end(), args.begin(), args.end());
  return RunBinary(all, {"TOVALINK_HOME=" + site.home.Path(), "LC_ALL=C"}, out);
}

TEST(Ledger, HoldsWhatEachScaleAcknowledgedAndLosesWhatItDeleted) {
  Site site;
  site.AddScale(1);
  sim::Behaviour cut;
  cut.closeAfterFrames = 2;  // the deletion and the first record, then gone
  site.AddScale(2, cut);
  site.SetScales({1, 2});
  site.Start();
  site.Drop("prices.txt", Deletion(777) + GoodsLine(123) + GoodsLine(124) + kClock);
  ASSERT_TRUE(site.WaitForLog(2)) << site.Output();
  ASSERT_TRUE(WaitUntil([&] { return Held(site, 2).size() == 1; }, 10000)) << site.Output();

  // Scale 1 took all; the ledger's bytes are the very frames it received.
  const auto frames1 = site.Scale(1).Frames();
  ASSERT_EQ(frames1.size(), 4u);
  auto held1 = Held(site, 1);
  ASSERT_EQ(held1.size(), 2u);
  EXPECT_EQ(held1[123], frames1[1]);
  EXPECT_EQ(held1[124], frames1[2]);
  // Scale 2 failed after the first record: only that one is vouched for.
  auto held2 = Held(site, 2);
  ASSERT_EQ(held2.count(123), 1u);
  EXPECT_EQ(held2[123], frames1[1]);

  // An acknowledged deletion removes the entry; the other stays.
  const size_t logged = site.Log().size();
  site.SetScales({1});
  site.Drop("less.txt", Deletion(123) + kClock);
  ASSERT_TRUE(site.WaitForLog(logged + 1)) << site.Output();
  ASSERT_TRUE(WaitUntil([&] { return Held(site, 1).size() == 1; }, 10000));
  EXPECT_EQ(Held(site, 1).count(124), 1u);
  EXPECT_EQ(site.Stop(), 0);
}

TEST(Ledger, AKillInMidDeliveryLeavesNothingTheScaleMayNoLongerHold) {
  Site site;
  site.AddScale(1);
  site.SetScales({1});
  site.Start();
  site.Drop("first.txt", GoodsLine(123) + GoodsLine(124) + kClock);
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  ASSERT_TRUE(WaitUntil([&] { return Held(site, 1).size() == 2; }, 10000));

  // A slow scale: the kill comes after it took the deletion of 123 and
  // before the delivery ends.
  sim::Behaviour slow;
  slow.delayMs = static_cast<int>(Scaled(2000));
  site.AddScale(1, slow);
  site.Drop("second.txt", Deletion(123) + GoodsLine(124, "00009.99") + GoodsLine(125) + kClock);
  ASSERT_TRUE(WaitUntil([&] { return !site.Scale(1).Frames().empty(); }, 30000)) << site.Output();
  site.Kill();
  // 123 is gone from the scale and 124 may have its new price: the ledger
  // vouches for neither, and never for 125.
  EXPECT_TRUE(Held(site, 1).empty());
}

// Scales of one batch are recorded together once the slowest has ended: a
// kill before that may cost a finished scale its entries, never leave it
// vouched for what it no longer holds.
TEST(Ledger, AKillWhileTheBatchWaitsForItsSlowestScaleVouchesForNothingReplaced) {
  Site site;
  site.AddScale(1);
  site.AddScale(2);
  site.SetScales({1, 2});
  site.Start();
  site.Drop("first.txt", GoodsLine(123) + GoodsLine(124) + kClock);
  ASSERT_TRUE(site.WaitForLog(2)) << site.Output();
  ASSERT_TRUE(WaitUntil([&] { return Held(site, 2).size() == 2; }, 10000));
  const auto before = Held(site, 2);

  sim::Behaviour slow;
  slow.delayMs = static_cast<int>(Scaled(2000));
  site.AddScale(1, slow);
  site.Drop("second.txt", Deletion(123) + GoodsLine(124, "00009.99") + GoodsLine(125) + kClock);
  // Scale 2 took the whole file while scale 1 is still at its first frame.
  ASSERT_TRUE(site.Scale(2).WaitForFrames(3 + 4, static_cast<int>(Scaled(30000))))
      << site.Output();
  ASSERT_TRUE(WaitUntil([&] { return !site.Scale(1).Frames().empty(); }, 30000)) << site.Output();
  site.Kill();
  EXPECT_TRUE(Held(site, 1).empty());
  // Scale 2 deleted 123 and holds 124 at its new price: the ledger may say
  // so or say nothing, but never the old entries.
  const auto frames2 = site.Scale(2).Frames();
  const auto held2 = Held(site, 2);
  EXPECT_EQ(held2.count(123), 0u);
  if (held2.count(124) != 0) {
    EXPECT_NE(held2.at(124), before.at(124));
    EXPECT_EQ(held2.at(124), frames2[4]);
  }
  EXPECT_LE(held2.size(), 2u);
}

TEST(Ledger, GoodsListsWhatAScaleHoldsAndDiffWhatAFileWouldChange) {
  Site site;
  site.AddScale(1);
  site.SetScales({1});
  site.Start();
  site.Drop("prices.txt", GoodsLine(123) + GoodsLine(124) + kClock);
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  ASSERT_TRUE(WaitUntil([&] { return Held(site, 1).size() == 2; }, 10000));
  EXPECT_EQ(site.Stop(), 0);

  std::string out;
  ASSERT_EQ(Goods(site, {"--scale", "1", "124", "--json"}, out), 0) << out;
  EXPECT_NE(out.find("\"goods\":124,\"name\":\"Apple\",\"price\":\"1.50\""), std::string::npos)
      << out;
  EXPECT_NE(out.find("\"file\":\"prices.txt\""), std::string::npos) << out;
  EXPECT_EQ(out.find("\"goods\":123"), std::string::npos) << "only the goods asked for: " << out;
  ASSERT_EQ(Goods(site, {"--scale", "2"}, out), 0) << out;
  EXPECT_EQ(Lines(out).size(), 2u) << "a scale never delivered to holds nothing: " << out;
  EXPECT_NE(out.find("the ledger vouches for nothing on scale 2"), std::string::npos) << out;

  const std::string file = site.home / "next.txt";
  WriteFile(file, Deletion(123) + GoodsLine(124, "00002.75") + GoodsLine(125) + kClock);
  ASSERT_EQ(Goods(site, {"diff", "--scale", "1", file, "--json"}, out), 0) << out;
  EXPECT_NE(
      out.find("{\"change\":\"deleted\",\"goods\":123,\"name\":\"Apple\",\"oldPrice\":\"1.50\"}"),
      std::string::npos)
      << out;
  EXPECT_NE(
      out.find("{\"change\":\"changed\",\"goods\":124,\"name\":\"Apple\",\"oldPrice\":\"1.50\","
               "\"newPrice\":\"2.75\"}"),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("{\"change\":\"new\",\"goods\":125"), std::string::npos) << out;
  EXPECT_NE(out.find("\"unchanged\":0}"), std::string::npos) << out;
  WriteFile(file, GoodsLine(123) + GoodsLine(124) + kClock);
  ASSERT_EQ(Goods(site, {"diff", "--scale", "1", file, "--json"}, out), 0) << out;
  EXPECT_EQ(out, "{\"changes\":[],\"unchanged\":2}\n");
  EXPECT_EQ(Goods(site, {"--help"}, out), 0);
  EXPECT_EQ(Goods(site, {"1"}, out), 2) << "--scale is needed: " << out;
}

// With delta delivery a scale is sent what the ledger says it lacks, and the
// clock; its frames are those of a whole delivery, fewer.
TEST(DeltaDelivery, SendsOnlyWhatChangedAndTheClock) {
  Site site;
  site.AddScale(1);
  site.AddScale(2);
  site.SetScales({1, 2});
  site.SetValue("DeltaDelivery", 1);
  site.Start();
  site.Drop("first.txt", GoodsLine(123) + GoodsLine(124) + kClock);
  ASSERT_TRUE(site.WaitForLog(2)) << site.Output();
  EXPECT_EQ(site.Scale(1).Frames().size(), 3u) << "an untried ledger: the whole file";
  const auto first = site.Scale(1).Frames();

  site.AddScale(1);  // a fresh counter of frames
  site.AddScale(2);
  const std::string second =
      Deletion(777) + GoodsLine(123) + GoodsLine(124, "00002.75") + GoodsLine(125) + kClock;
  site.Drop("second.txt", second);
  ASSERT_TRUE(site.WaitForLog(4)) << site.Output();
  auto frames = site.Scale(1).Frames();
  EXPECT_EQ(site.Scale(2).Frames(), frames) << "the same history, the same changes";
  // Not the deletion of 777, never held; not 123, held as it is.
  ASSERT_EQ(frames.size(), 3u) << site.Output();
  // 124 with its new price: the same record, other bytes.
  EXPECT_NE(frames[0], first[1]);
  EXPECT_EQ(frames[0].size(), first[1].size());
  EXPECT_EQ(Held(site, 1)[125], frames[1]);
  EXPECT_NE(
      site.Output().find("scale 1: 2 goods records of second.txt sent, 2 records and deletions "
                         "skipped as held"),
      std::string::npos)
      << site.Output();

  site.AddScale(1);
  site.Drop("third.txt", second);
  ASSERT_TRUE(site.WaitForLog(6)) << site.Output();
  EXPECT_EQ(site.Scale(1).Frames().size(), 1u) << "nothing but the clock";
  EXPECT_EQ(site.Log().back().code, 0);
  EXPECT_EQ(site.Stop(), 0);
}

TEST(DeltaDelivery, FallsBackToTheWholeFileAfterAFailureOrWhenTheLedgerIsOld) {
  Site site;
  site.AddScale(1);
  site.SetScales({1});
  site.SetValue("DeltaDelivery", 1);
  site.Start();
  const std::string file = GoodsLine(123) + GoodsLine(124) + kClock;
  site.Drop("first.txt", file);
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();

  // Cut off after one frame: the copy parked for it is sent whole later.
  sim::Behaviour cut;
  cut.closeAfterFrames = 1;
  site.AddScale(1, cut);
  site.Drop("second.txt", GoodsLine(123) + GoodsLine(124, "00002.75") + kClock);
  ASSERT_TRUE(site.WaitForLog(2)) << site.Output();
  EXPECT_NE(site.Log().back().code, 0);
  site.AddScale(1);
  ASSERT_TRUE(site.WaitForLog(3)) << site.Output();
  EXPECT_EQ(site.Log().back().code, 0);
  EXPECT_EQ(site.Scale(1).Frames().size(), 3u) << "123 too, though held";
  std::string held;
  EXPECT_EQ(Goods(site, {"--scale", "1", "124"}, held), 0);
  EXPECT_NE(held.find(" second.txt "), std::string::npos) << "the back office's name\n" << held;

  // A ledger older than FullResyncHours: whole again.
  site.SetValue("FullResyncHours", 0);
  site.AddScale(1);
  site.Drop("third.txt", GoodsLine(123) + GoodsLine(124, "00002.75") + kClock);
  ASSERT_TRUE(site.WaitForLog(4)) << site.Output();
  EXPECT_EQ(site.Scale(1).Frames().size(), 3u);
  EXPECT_EQ(site.Stop(), 0);
}

// The goods records of one scale's latest delivery and since start, as
// `status --json` gives them, and the service's sums.
struct RecordCounts {
  long long sent = -1, skipped = -1, sentTotal = -1, skippedTotal = -1;
  long long allSent = -1, allSkipped = -1;
  bool operator==(const RecordCounts&) const = default;
};

std::ostream& operator<<(std::ostream& out, const RecordCounts& c) {
  return out << "{" << c.sent << ", " << c.skipped << ", " << c.sentTotal << ", " << c.skippedTotal
             << ", all " << c.allSent << ", " << c.allSkipped << "}";
}

long long NumberAfter(const std::string& text, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex("\"" + key + "\": (\\d+)"))) return -1;
  return std::stoll(m[1].str());
}

RecordCounts StatusCounts(Site& site) {
  std::string out;
  RunBinary({TovalinkBinary(), "status", "--json"}, {"TOVALINK_HOME=" + site.home.Path()}, out);
  const size_t scale = out.find("{\"scale\": 1,");
  const size_t end = out.find("\n]");
  if (scale == std::string::npos || end == std::string::npos) return {};
  const std::string one = out.substr(scale, out.find('\n', scale) - scale);
  const std::string all = out.substr(end);
  return {NumberAfter(one, "records_sent"),       NumberAfter(one, "records_skipped"),
          NumberAfter(one, "records_sent_total"), NumberAfter(one, "records_skipped_total"),
          NumberAfter(all, "records_sent_total"), NumberAfter(all, "records_skipped_total")};
}

// The same counts as a scraper reads them at the default MetricsAddress.
RecordCounts MetricCounts() {
  platform::TcpSocket s;
  std::string reply;
  const std::string request = "GET /metrics HTTP/1.0\r\n\r\n";
  if (!s.Create() || !s.Connect("127.0.0.1", 9957)) return {};
  s.SetRecvTimeout(5000);
  if (!s.SendAll(request.data(), request.size())) return {};
  char buf[4096];
  for (long n; (n = s.Recv(buf, sizeof buf)) > 0;) reply.append(buf, static_cast<size_t>(n));
  auto sample = [&](const std::string& name) {
    std::smatch m;
    const std::regex line("\n" + name + " (\\d+)\n");
    return std::regex_search(reply, m, line) ? std::stoll(m[1].str()) : -1;
  };
  const std::string one = "\\{scale=\"1\"\\}";
  return {sample("tovalink_scale_last_delivery_records_sent" + one),
          sample("tovalink_scale_last_delivery_records_skipped" + one),
          sample("tovalink_scale_records_sent_total" + one),
          sample("tovalink_scale_records_skipped_total" + one),
          sample("tovalink_records_sent_total"),
          sample("tovalink_records_skipped_total")};
}

// Ten goods, `changed` of them (the first ones) at another price.
std::string TenGoods(int changed, const std::string& price = "00002.75") {
  std::string file;
  for (int i = 0; i < 10; ++i) file += GoodsLine(201 + i, i < changed ? price : "00001.50");
  return file + kClock;
}

// Counts what the scale acknowledged: a delivery cut off midway counts the
// records before the cut; a whole delivery (a parked copy, or delta
// delivery off) skips nothing.
TEST(DeltaDelivery, StatusAndMetricsCountTheRecordsSentAndSkipped) {
  Site site;
  site.AddScale(1);
  site.SetScales({1});
  site.SetValue("DeltaDelivery", 1);
  site.Start();
  RecordCounts seen;
  auto next = [&](size_t logged, const RecordCounts& expected) {
    EXPECT_TRUE(site.WaitForLog(logged)) << site.Output();
    const long long before = seen.sentTotal;
    EXPECT_TRUE(WaitUntil([&] { return (seen = StatusCounts(site)).sentTotal != before; },
                          static_cast<int>(Scaled(20000))))
        << site.Output();
    EXPECT_EQ(seen, expected) << "status --json after delivery " << logged;
    EXPECT_EQ(MetricCounts(), expected) << "metrics after delivery " << logged;
  };
  site.Drop("first.txt", TenGoods(0));
  next(1, {10, 0, 10, 0, 10, 0});
  site.Drop("second.txt", TenGoods(3));
  next(2, {3, 7, 13, 7, 13, 7});

  // Four to send, two acknowledged before the scale hangs up.  The timer
  // is slowed first, so that the parked copy is not retried before the
  // counts of the cut-off delivery are read (the drop is taken at once).
  auto reload = [&](int verInterval, int reloads) {
    site.SetValue("VerInterval", verInterval);
    site.service->Signal(SIGHUP);
    ASSERT_TRUE(WaitUntil(
        [&] {
          const std::string out = site.Output();
          size_t n = 0;
          for (size_t at = out.find("settings reloaded"); at != std::string::npos;
               at = out.find("settings reloaded", at + 1))
            ++n;
          return n >= static_cast<size_t>(reloads);
        },
        static_cast<int>(Scaled(20000))))
        << site.Output();
  };
  reload(600, 1);
  sim::Behaviour cut;
  cut.closeAfterFrames = 2;
  site.AddScale(1, cut);
  site.Drop("third.txt", TenGoods(4, "00003.10"));
  next(3, {2, 6, 15, 13, 15, 13});
  // Its parked copy goes whole.
  site.AddScale(1);
  reload(1, 2);
  next(4, {10, 0, 25, 13, 25, 13});

  site.SetValue("DeltaDelivery", 0);
  site.Drop("fourth.txt", TenGoods(4, "00003.10"));
  next(5, {10, 0, 35, 13, 35, 13});
  std::string out;
  RunBinary({TovalinkBinary(), "status"}, {"TOVALINK_HOME=" + site.home.Path()}, out);
  EXPECT_NE(out.find("Goods records to scale 1: 10 sent, 0 skipped as held in the latest delivery; "
                     "35 sent, 13 skipped since start\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(site.Stop(), 0);
}

}  // namespace
}  // namespace tv::test
