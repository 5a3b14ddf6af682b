// What the operator learns when delivery is blocked: `tovalink status`
// names the blocker and exits with its code, a failure names its cause, the
// service log tells a change once, and an error on a question about a file
// never loses the file.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>

#include "site.h"

namespace tv::test {
namespace {

const std::string kParkedFor9 = "{0F6A3C1E-2B4D-4E8F-9A0B-1C2D3E4F5A6B}prices009.txt";
const std::string kParkedFor2 = "{0F6A3C1E-2B4D-4E8F-9A0B-1C2D3E4F5A6C}prices002.txt";

bool Has(const std::string& text, const std::string& needle) {
  return text.find(needle) != std::string::npos;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The service's lines from the first one that holds `from` on, debug lines
// left out.
std::vector<std::string> OperatorLinesFrom(const std::string& out, const std::string& from) {
  std::vector<std::string> lines;
  bool counting = false;
  for (const std::string& line : Lines(out)) {
    counting = counting || line.find(from) != std::string::npos;
    if (counting && line.find("debug: ") == std::string::npos) lines.push_back(line);
  }
  return lines;
}

int Status(const Site& site, std::string& out, bool json = false) {
  std::vector<std::string> args{TovalinkBinary(), "status"};
  if (json) args.push_back("--json");
  return RunBinary(args, {"TOVALINK_HOME=" + site.home.Path()}, out);
}

// The bound on a scale that stays down, with the reminder shortened to R:
// until the first reminder, R after the scale went down, the log holds the
// "down" warning, that cycle's summary and the reminder with the parked
// count and the oldest's age; a scale coming back is one line.
TEST(QuietLog, AScaleDownWritesOneLineThenARemindPerIntervalThenOneLineBack) {
  const long reminder = Scaled(3000) / 1000;
  Site site;
  site.SetScales({1, 2});
  site.AddScale(1);
  WriteFile(site.exportDir + "/Unsent/" + kParkedFor2, GoodsFile(5));
  site.Start({"TOVALINK_LOG_LEVEL=debug", "TOVALINK_TEST_REMINDER_S=" + std::to_string(reminder)});
  ASSERT_TRUE(WaitUntil([&] { return Has(site.Output(), "the scale is down"); }, Scaled(10000)))
      << site.Output();
  const auto down = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return Has(site.Output(), "still down since"); }, Scaled(20000)))
      << site.Output();
  EXPECT_GE(std::chrono::steady_clock::now() - down, std::chrono::seconds(reminder - 1));
  const std::string out = site.Output();
  const std::vector<std::string> lines = OperatorLinesFrom(out, "scale 2 (127.0.0.2)");
  ASSERT_EQ(lines.size(), 3u) << out;
  EXPECT_TRUE(Has(
      lines[0], "warning: scale 2 (127.0.0.2): " + kParkedFor2 +
                    " (parked copy): code 2, scale not reachable: connection refused on port 3002; "
                    "the scale is down"))
      << lines[0];
  EXPECT_TRUE(Has(lines[1], "export cycle: 1 file, 1 scale: 0 delivered, 1 failed")) << lines[1];
  std::regex reminded(
      R"(warning: scale 2 \(127\.0\.0\.2\) still down since \d\d:\d\d:\d\d \(connection refused on )"
      R"(port 3002\): 1 file parked, the oldest 0m old; latest retry \d\d:\d\d:\d\d)");
  EXPECT_TRUE(std::regex_search(lines[2], reminded)) << lines[2];
  // Every second a cycle retried, unheard.
  EXPECT_GE(Count(out, "(parked copy): code 2, scale not reachable"), 2u) << out;

  site.AddScale(2);
  ASSERT_TRUE(WaitUntil([&] { return site.Unsent().empty(); }, Scaled(15000)));
  ASSERT_TRUE(WaitUntil([&] { return Has(site.Output(), "export cycle: 1 file"); }, Scaled(10000)));
  ASSERT_EQ(site.Stop(), 0);
  EXPECT_EQ(Count(site.output, "scale 2 (127.0.0.2) back: 1 parked file delivered"), 1u)
      << site.output;
  EXPECT_EQ(Count(site.output, "tovalink: scale 2 (127.0.0.2): " + kParkedFor2), 0u) << site.output;
}

// A file still in its quiet period starts a cycle every second that takes
// nothing: the log and the STATUS line stay as they were.
TEST(QuietLog, CyclesThatDoNothingWriteNothing) {
  Site site;
  site.SetScales({1});
  site.AddScale(1);
  site.quietMs = std::to_string(Scaled(600000));
  site.Start({"TOVALINK_LOG_LEVEL=debug"});
  ASSERT_TRUE(WaitUntil([&] { return Has(site.Output(), "in the scale list, VerInterval"); },
                        Scaled(10000)));
  const size_t before = Lines(site.Output()).size();
  const auto held = site.WriteKeptOpen("prices.txt", GoodsFile());
  // At debug level each such cycle still says it ran.
  ASSERT_TRUE(
      WaitUntil([&] { return Count(site.Output(), "export cycle: 0 files") >= 3; }, Scaled(20000)))
      << site.Output();
  const std::vector<std::string> all = Lines(site.Output());
  std::vector<std::string> loud;
  for (size_t i = before; i < all.size(); ++i)
    if (all[i].find("debug: ") == std::string::npos) loud.push_back(all[i]);
  EXPECT_TRUE(loud.empty()) << ::testing::PrintToString(loud);
  ASSERT_EQ(site.Stop(), 0);
}

// A parked file for a scale no longer listed: one warning at start, one
// more after a reload, whatever the number of cycles between.
TEST(QuietLog, AParkedFileForAnUnlistedScaleIsWarnedOfOncePerStartOrReload) {
  Site site;
  site.SetScales({1});
  site.AddScale(1);
  WriteFile(site.exportDir + "/Unsent/" + kParkedFor9, GoodsFile(9));
  site.Start();
  const std::string warning =
      "warning: scale 9 is not in the scale list: 1 file parked for it (" + kParkedFor9 +
      ") never delivered; `tovalink unsent drop --scale 9 --all` removes them";
  // Three cycles, each with a file for scale 1, meet the parked file.
  for (int goods = 1; goods <= 3; ++goods) {
    site.Drop("prices" + std::to_string(goods) + ".txt", GoodsFile(goods));
    ASSERT_TRUE(site.WaitForLog(static_cast<size_t>(goods))) << site.Output();
  }
  EXPECT_EQ(Count(site.Output(), warning), 1u) << site.Output();
  site.service->Signal(SIGHUP);
  ASSERT_TRUE(WaitUntil([&] { return Count(site.Output(), warning) == 2; }, Scaled(10000)))
      << site.Output();
  ASSERT_EQ(site.Stop(), 0);
}

TEST(QuietLog, RemovingAScaleSaysWhatItLeavesParked) {
  Site site;
  site.SetScales({1, 2});
  WriteFile(site.exportDir + "/Unsent/" + kParkedFor2, GoodsFile(5));
  std::string out;
  ASSERT_EQ(RunBinary({TovalinkBinary(), "scale", "remove", "2"},
                      {"TOVALINK_HOME=" + site.home.Path()}, out),
            0)
      << out;
  EXPECT_TRUE(Has(out,
                  "removed scale 2; it leaves 1 parked file that no cycle delivers: "
                  "`tovalink unsent drop --scale 2 --all` drops it"))
      << out;
}

// Down, the status names the cause, since when and the latest retry, and
// exits 3; while a parked copy is delivered to one scale, only that one is
// in progress.
TEST(StatusBlockers, AScaleDownShowsItsCauseAndOnlyServedScalesAreInProgress) {
  Site site;
  site.SetScales({5, 6});
  site.AddScale(5);
  site.Start();
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(2));
  std::string out;
  ASSERT_TRUE(
      WaitUntil([&] { return Status(site, out) == 3 && Has(out, "latest retry"); }, Scaled(10000)))
      << out;
  std::regex row(R"(6 +127\.0\.0\.6 +failed .*connection refused on port 3006; down since )"
                 R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d, latest retry \d\d:\d\d:\d\d)");
  EXPECT_TRUE(std::regex_search(out, row)) << out;
  ASSERT_EQ(Status(site, out, true), 3) << out;
  std::regex json(R"("scale": 6, .*"cause": "connection refused on port 3006", "down_since": )"
                  R"("\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d", "latest_retry": "\d{4}-)");
  EXPECT_TRUE(std::regex_search(out, json)) << out;

  sim::Behaviour slow;
  slow.delayMs = 1500;
  site.AddScale(6, slow);
  ASSERT_TRUE(WaitUntil(
      [&] {
        Status(site, out, true);
        return Has(out, "\"scale\": 6, \"address\": \"127.0.0.6\", \"state\": \"in progress\"");
      },
      Scaled(15000)))
      << out;
  EXPECT_TRUE(Has(out, "{\"scale\": 5, \"address\": \"127.0.0.5\", \"state\": \"delivered\""))
      << out;
  ASSERT_TRUE(WaitUntil([&] { return Status(site, out) == 0; }, Scaled(15000))) << out;
  ASSERT_EQ(site.Stop(), 0);
}

TEST(StatusBlockers, RejectedFilesAndSkippedLinesNeedALook) {
  Site site;
  site.SetScales({5});
  site.AddScale(5);
  site.Start();
  site.Drop("junk.txt", "this is no goods file\r\n");
  ASSERT_TRUE(WaitUntil([&] { return site.Rejected().size() == 1; }, Scaled(10000)));
  std::string out;
  ASSERT_TRUE(WaitUntil([&] { return Status(site, out) == 4; }, Scaled(10000))) << out;
  std::regex rejected(
      R"(Files rejected: 1, the newest junk\.txt at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d: .+)");
  EXPECT_TRUE(std::regex_search(out, rejected)) << out;
  ASSERT_EQ(Status(site, out, true), 4) << out;
  EXPECT_TRUE(Has(out, "\"rejected\": {\"count\": 1, \"newest\": \"junk.txt\", \"reason\": \""))
      << out;

  // Line 2 is one character short of the fixed layout.
  std::string file = GoodsFile();
  const size_t a = file.find("\r\nA") + 2;
  const size_t end = file.find("\r\n", a);
  site.Drop("short.txt", "D000777\r\n" + file.substr(a, end - a - 1) + "\r\nT202403050907\r\n");
  ASSERT_TRUE(WaitUntil(
      [&] {
        Status(site, out);
        return Has(out, "short.txt");
      },
      Scaled(10000)))
      << out;
  EXPECT_TRUE(
      Has(out,
          "Lines skipped in the last file short.txt: 1 of 3; first skipped: line 2, A line of 132 "
          "characters, the fixed layout needs 133"))
      << out;
  ASSERT_EQ(site.Stop(), 0);
}

// The cycles go on with the values they had, so the shop keeps its prices;
// the value at fault still needs a look.
TEST(StatusBlockers, AValueTheCyclesCannotUseIsShownWhileTheyGoOn) {
  Site site;
  site.SetScales({5});
  site.AddScale(5);
  site.Start();
  std::string out;
  ASSERT_TRUE(WaitUntil([&] { return Status(site, out) == 0; }, Scaled(10000))) << out;
  // A number stored as text: every cycle's settings read fails.
  site.SetString("SocketPort", "3000");
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(WaitUntil([&] { return Status(site, out) == 4; }, Scaled(10000))) << out;
  EXPECT_TRUE(Has(out, "Settings not in force: ")) << out;
  EXPECT_TRUE(Has(out, "SocketPort")) << out;
  EXPECT_TRUE(site.Scale(5).WaitForFrames(1, Scaled(10000))) << site.Output();
  ASSERT_EQ(Status(site, out, true), 4) << out;
  EXPECT_TRUE(Has(out, "\"settings_fault\": \"")) << out;
  site.SetValue("SocketPort", kGoodsPortBase);
  site.Drop("prices2.txt", GoodsFile());
  ASSERT_TRUE(WaitUntil([&] { return Status(site, out) == 0; }, Scaled(10000))) << out;
  ASSERT_EQ(site.Stop(), 0);
}

TEST(StatusBlockers, AFailedKeyboardUploadIsAFailure) {
  Site site;
  site.SetScales({7}, {5});  // an SM700
  site.AddScale(7, {}, false);
  site.Start();
  site.Drop("keys.xml",
            "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<xml_archive>\r\n"
            " <keyboard name=\"fruit\">\r\n  <key key_menu=\"true\" "
            "key_index=\"15\"><layer_text><text>Pear"
            "</text></layer_text><layer_image file_name=\"pear.png\"/></key>\r\n "
            "</keyboard>\r\n</xml_archive>\r\n");
  ASSERT_TRUE(site.WaitForLog(1));
  std::string out;
  ASSERT_TRUE(WaitUntil([&] { return Status(site, out) == 3; }, Scaled(10000))) << out;
  EXPECT_TRUE(
      Has(out,
          "keyboard upload of keys.xml failed: code 15, keyboard upload: connection failed: "
          "connection refused on port 2007"))
      << out;
  ASSERT_EQ(site.Stop(), 0);
}

// An error on the question whether a file can still be parked (here a
// stat that fails once with EACCES) keeps the original: the next cycle
// parks it for the scale that is down.
TEST(NothingLost, AnUnansweredQuestionKeepsTheOriginal) {
  Site site;
  site.SetScales({3, 4});
  site.AddScale(3);
  site.Start({"TOVALINK_TEST_FAULTS=stat:EACCES:after=3:times=1:path=*/export/prices.txt"});
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(WaitUntil([&] { return site.Unsent().size() == 1; }, Scaled(15000))) << site.Output();
  EXPECT_TRUE(Has(site.Unsent()[0], "prices004.txt")) << site.Unsent()[0];
  ASSERT_TRUE(WaitUntil([&] { return !platform::FileExists(site.exportDir + "/prices.txt"); },
                        Scaled(10000)));
  ASSERT_EQ(site.Stop(), 0);
  EXPECT_EQ(Count(site.output, "prices.txt not parked for 127.0.0.4 and kept for the next cycle: "),
            1u)
      << site.output;
}

}  // namespace
}  // namespace tv::test
