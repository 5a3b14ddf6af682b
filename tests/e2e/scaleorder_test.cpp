// Per-scale order end to end: a scale receives its files in the order the
// back office wrote them, never a newer one before an older one it missed,
// and a dead scale costs one time-out per cycle however much waits for it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <regex>

#include "files/parkedname.h"
#include "site.h"

namespace tv::test {
namespace {

using std::chrono::milliseconds;

// A moment at an even second, so that every offset below 2 s falls into one
// two-second DOS time stamp.
const auto kWritten =
    std::chrono::system_clock::from_time_t(1767261600);  // 2026-01-01 10:00:00 UTC

void SetWritten(const std::string& path, std::chrono::system_clock::time_point t) {
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(ns / 1000000000);
  times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(ns % 1000000000);
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

void Park(Site& site, const std::string& name, int goods, milliseconds after) {
  const std::string path = site.exportDir + "/Unsent/" + name;
  WriteFile(path, GoodsFile(goods));
  SetWritten(path, kWritten + after);
}

void DropWritten(Site& site, const std::string& name, int goods, milliseconds after) {
  site.Drop(name, GoodsFile(goods));
  SetWritten(site.exportDir + "/" + name, kWritten + after);
}

std::string Guid(int first) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-0000-0000-0000-000000000000}", first);
  return buf;
}

// The goods numbers of every goods record the scale received, in order.
std::vector<int> GoodsReceived(const sim::SimScale& scale) {
  static const std::regex goods("\"kind\":\"goods\".*\"goods\":\"?([0-9]+)");
  std::vector<int> out;
  std::smatch m;
  for (const std::string& line : scale.JsonLines())
    if (std::regex_search(line, m, goods)) out.push_back(std::stoi(m[1]));
  return out;
}

std::vector<std::string> LoggedFiles(const Site& site, const std::string& address, int code) {
  std::vector<std::string> out;
  for (const LogLine& l : site.Log())
    if (l.address == address && l.code == code)
      out.push_back(std::string(OriginalFileName(l.file)));
  return out;
}

// The prices of every goods record the scale received, in order.
std::vector<std::string> PricesReceived(const sim::SimScale& scale) {
  static const std::regex price("\"kind\":\"goods\".*\"price\":\"([0-9.]+)\"");
  std::vector<std::string> out;
  std::smatch m;
  for (const std::string& line : scale.JsonLines())
    if (std::regex_search(line, m, price)) out.push_back(m[1]);
  return out;
}

std::string GoodsFileAt(int goods, const std::string& price) {
  std::string file = GoodsFile(goods);
  file.replace(file.find("00001.50"), 8, price);
  return file;
}

bool ExportDirEmpty(const Site& site) {
  std::vector<platform::FoundFile> found;
  platform::Env::Default()->FindFiles(site.exportDir + "/*.txt", &found);
  return found.empty();
}

TEST(ScaleOrder, AKillWhileTheNewerFileIsInFlightNeverPutsTheOlderPriceBack) {
  Site site;
  site.AddScale(1);
  sim::Behaviour slow;
  slow.delayMs = 300;
  site.AddScale(2, slow);
  site.SetScales({1, 2});
  const std::string older = GoodsFileAt(7001, "00001.00");
  const std::string newer = GoodsFileAt(7001, "00002.00");
  site.Drop("older.txt", older);
  SetWritten(site.exportDir + "/older.txt", kWritten);
  site.Drop("newer.txt", newer);
  SetWritten(site.exportDir + "/newer.txt", kWritten + milliseconds(900));
  site.Start();
  // Scale 1 has the newer price and scale 2 is still taking it.
  auto has = [&](int n, const std::string& price) {
    const auto got = PricesReceived(site.Scale(n));
    return std::find(got.begin(), got.end(), price) != got.end();
  };
  ASSERT_TRUE(WaitUntil([&] { return has(1, "2.00") && has(2, "2.00"); }, 30000)) << site.Output();
  site.Kill();
  EXPECT_FALSE(platform::Env::Default()->FileExists(site.exportDir + "/older.txt"))
      << "a file every scale had must be gone before the next one is sent";
  site.Start();
  ASSERT_TRUE(WaitUntil([&] { return ExportDirEmpty(site) && site.Unsent().empty(); }, 30000))
      << site.Output();
  for (int n : {1, 2}) {
    const auto got = PricesReceived(site.Scale(n));
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end()))
        << "scale " << n << " got an older price after a newer";
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), "2.00") << n;
  }
  EXPECT_EQ(site.Stop(), 0);
}

TEST(ScaleOrder, ParkedCopiesByWriteTimeThenOriginalNameNeverByGuid) {
  Site site;
  site.AddScale(3);
  site.SetScales({3});
  // Six copies written within one second, their GUIDs in the opposite order;
  // the last two share a time and go by their names.
  const std::vector<std::string> names = {"a003.txt", "b003.txt", "c003.txt",
                                          "d003.txt", "f003.txt", "e003.txt"};
  const int offsetsMs[] = {0, 150, 300, 450, 700, 700};
  for (int i = 0; i < 6; ++i)
    Park(site, Guid(0xF0 - i) + names[i], 101 + i, milliseconds(offsetsMs[i]));
  site.Start();
  ASSERT_TRUE(site.WaitForLog(6)) << site.output;
  EXPECT_EQ(LoggedFiles(site, "127.0.0.3", 0),
            (std::vector<std::string>{"a003.txt", "b003.txt", "c003.txt", "d003.txt", "e003.txt",
                                      "f003.txt"}));
  EXPECT_EQ(GoodsReceived(site.Scale(3)), (std::vector<int>{101, 102, 103, 104, 106, 105}));
  ASSERT_TRUE(WaitUntil([&] { return site.Unsent().empty(); }, 5000));
  EXPECT_EQ(site.Stop(), 0);
}

TEST(ScaleOrder, AFailedFileHoldsTheScaleBackForTheRestOfTheCycle) {
  Site site;
  site.AddHealthyAndRefusing(1, 4);
  // "new.txt" was written after "old.txt" although its name sorts first.
  DropWritten(site, "old.txt", 201, milliseconds(100));
  DropWritten(site, "new.txt", 202, milliseconds(900));
  site.Start();
  ASSERT_TRUE(site.WaitForLog(4)) << site.output;
  EXPECT_EQ(LoggedFiles(site, "127.0.0.1", 0), (std::vector<std::string>{"old.txt", "new.txt"}));
  EXPECT_EQ(LoggedFiles(site, "127.0.0.4", 3), std::vector<std::string>{"old.txt"});
  EXPECT_EQ(LoggedFiles(site, "127.0.0.4", 18), std::vector<std::string>{"new.txt"})
      << "held back: parked without connecting";
  EXPECT_EQ(site.Results()["4"], 0);
  ASSERT_TRUE(WaitUntil(
      [&] { return !platform::Env::Default()->FileExists(site.exportDir + "/new.txt"); }, 5000));
  // Both wait for scale 4, and reach it oldest first once it answers again;
  // later cycles meanwhile try only the older one.
  ASSERT_TRUE(site.Scale(4).WaitForConnections(3, 10000));
  for (int goods : GoodsReceived(site.Scale(4))) EXPECT_EQ(goods, 201);
  site.Scale(4).SetBehaviour(sim::Behaviour{});
  ASSERT_TRUE(site.WaitForLog(6)) << site.output;
  EXPECT_EQ(LoggedFiles(site, "127.0.0.4", 0),
            (std::vector<std::string>{"old004.txt", "new004.txt"}));
  EXPECT_EQ(GoodsReceived(site.Scale(4)).back(), 202);
  EXPECT_EQ(GoodsReceived(site.Scale(1)), (std::vector<int>{201, 202}));
  ASSERT_TRUE(WaitUntil([&] { return site.Unsent().empty(); }, 5000));
  EXPECT_EQ(site.Stop(), 0);
}

// Seconds of the first "export cycle: ..." summary, -1 when there is none.
double FirstCycleSeconds(const std::string& output) {
  static const std::regex summary("export cycle: [^\\n]*, ([0-9.]+) s\\n");
  std::smatch m;
  return std::regex_search(output, m, summary) ? std::stod(m[1]) : -1;
}

TEST(ScaleOrder, ADeadScaleCostsOneTimeOutPerCycleNotOnePerParkedFile) {
  constexpr int kTimeoutMs = 1500;
  constexpr int kDead = 20;
  Site site;
  std::vector<int> numbers;
  for (int n = 1; n <= 10; ++n) {
    numbers.push_back(n);
    site.AddScale(n);
  }
  sim::Behaviour silent;
  silent.neverAnswer = true;
  site.AddScale(kDead, silent);
  numbers.push_back(kDead);
  site.SetScales(numbers);
  for (int i = 0; i < 20; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "p%02d020.txt", i);
    Park(site, Guid(0xFF - i) + name, 300 + i, milliseconds(50 * i));
  }
  DropWritten(site, "prices.txt", 400, milliseconds(5000));
  site.Start({"TOVALINK_TEST_SCALE_TIMEOUT_MS=" + std::to_string(kTimeoutMs)});
  ASSERT_TRUE(WaitUntil([&] { return FirstCycleSeconds(site.service->Output()) >= 0; }, 120000))
      << site.service->Output();
  const std::string out = site.service->Output();
  const std::string firstCycle = out.substr(0, out.find("export cycle: "));
  // One try of the oldest copy; the rest wait, and the new file is parked.
  size_t tries = 0;
  for (const std::string& line : Lines(firstCycle))
    if (line.find("scale 20 (127.0.0.20)") != std::string::npos &&
        line.find("(parked copy)") != std::string::npos)
      ++tries;
  EXPECT_EQ(tries, 1u) << firstCycle;
  ASSERT_EQ(site.Log().size(), 11u);
  for (int n = 1; n <= 10; ++n)
    EXPECT_EQ(LoggedFiles(site, "127.0.0." + std::to_string(n), 0),
              std::vector<std::string>{"prices.txt"})
        << n;
  EXPECT_EQ(LoggedFiles(site, "127.0.0.20", 18), std::vector<std::string>{"prices.txt"});
  // The healthy scales take milliseconds on loopback; the margin is for a
  // loaded machine, and is far below one time-out per parked file.
  EXPECT_LT(FirstCycleSeconds(out) * 1000, ScaledBelow(kTimeoutMs + 8000, 20 * kTimeoutMs)) << out;

  // The scale comes back: 21 files in the order they were written.
  site.Scale(kDead).SetBehaviour(sim::Behaviour{});
  ASSERT_TRUE(site.WaitForLog(32, 60000)) << site.service->Output();
  std::vector<std::string> want;
  std::vector<int> wantGoods;
  for (int i = 0; i < 20; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "p%02d020.txt", i);
    want.push_back(name);
    wantGoods.push_back(300 + i);
  }
  want.push_back("prices020.txt");
  wantGoods.push_back(400);
  EXPECT_EQ(LoggedFiles(site, "127.0.0.20", 0), want);
  EXPECT_EQ(GoodsReceived(site.Scale(kDead)), wantGoods);
  EXPECT_EQ(site.Stop(), 0);
}

TEST(ScaleOrder, ParkedBacklogsGoToTenScalesAtOnceEachInItsOwnOrder) {
  constexpr int kScales = 11;
  constexpr int kFiles = 3;
  Site site;
  sim::Behaviour silent;
  silent.neverAnswer = true;
  std::vector<int> numbers;
  for (int n = 1; n <= kScales; ++n) {
    numbers.push_back(n);
    site.AddScale(n, silent);
    for (int f = 0; f < kFiles; ++f) {
      char name[32];
      std::snprintf(name, sizeof name, "q%d%03d.txt", f, n);
      Park(site, Guid(0xFF - f) + name, 10 * n + f, milliseconds(100 * f + n));
    }
  }
  site.SetScales(numbers);
  // Long enough that no silent scale has been given up on while the test
  // looks; the check below takes milliseconds.
  site.Start({"TOVALINK_TEST_SCALE_TIMEOUT_MS=4000"});
  auto connected = [&] {
    int n = 0;
    for (int s = 1; s <= kScales; ++s) n += site.Scale(s).Connections() > 0;
    return n;
  };
  ASSERT_TRUE(WaitUntil([&] { return connected() >= 10; }, 3000))
      << connected() << " scales at once";
  EXPECT_EQ(connected(), 10) << "at most ten at once";

  for (int n = 1; n <= kScales; ++n) site.Scale(n).SetBehaviour(sim::Behaviour{});
  ASSERT_TRUE(site.WaitForLog(kScales * kFiles, 60000)) << site.service->Output();
  bool interleaved = false;
  std::string previous;
  std::map<std::string, int> runs;
  for (const LogLine& l : site.Log()) {
    if (l.address != previous) ++runs[l.address];
    previous = l.address;
  }
  for (const auto& [address, count] : runs) interleaved = interleaved || count > 1;
  EXPECT_TRUE(interleaved) << "scales served side by side";
  for (int n = 1; n <= kScales; ++n) {
    std::vector<std::string> want;
    std::vector<int> goods;
    for (int f = 0; f < kFiles; ++f) {
      char name[32];
      std::snprintf(name, sizeof name, "q%d%03d.txt", f, n);
      want.push_back(name);
      goods.push_back(10 * n + f);
    }
    EXPECT_EQ(LoggedFiles(site, "127.0.0." + std::to_string(n), 0), want) << n;
    EXPECT_EQ(GoodsReceived(site.Scale(n)), goods) << n;
  }
  EXPECT_EQ(site.Stop(), 0);
}

// Silent scales hold their connection until the service gives up on them,
// so the scales connected at one moment are the batch being served.
TEST(ScaleOrder, MaxParallelScalesSetsHowManyScalesABatchServes) {
  const std::string key = "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+";
  for (auto [parallel, count] : {std::pair{2, 4}, std::pair{12, 12}}) {
    Site site;
    std::string out;
    auto regAdd = [&](const std::string& value) {
      return RunBinary({TovalinkBinary(), "reg", "add", key, "/v", "MaxParallelScales", "/t",
                        "REG_DWORD", "/d", value, "/f"},
                       {"TOVALINK_HOME=" + site.home.Path()}, out);
    };
    EXPECT_NE(regAdd("0"), 0) << out;
    EXPECT_NE(regAdd("256"), 0) << out;
    EXPECT_NE(out.find("MaxParallelScales 256 is outside 1 to 255"), std::string::npos) << out;
    ASSERT_EQ(regAdd(std::to_string(parallel)), 0) << out;
    sim::Behaviour silent;
    silent.neverAnswer = true;
    std::vector<int> numbers;
    for (int n = 1; n <= count; ++n) {
      numbers.push_back(n);
      site.AddScale(n, silent);
    }
    site.SetScales(numbers);
    site.Start({"TOVALINK_TEST_SCALE_TIMEOUT_MS=" + std::to_string(Scaled(3000))});
    site.Drop("p.txt", GoodsFile());
    auto connected = [&] {
      int n = 0;
      for (int s = 1; s <= count; ++s) n += site.Scale(s).Connections() > 0;
      return n;
    };
    ASSERT_TRUE(WaitUntil([&] { return connected() >= parallel; }, Scaled(3000)))
        << connected() << " scales at once, MaxParallelScales " << parallel;
    EXPECT_EQ(connected(), parallel) << "MaxParallelScales " << parallel;
    // The next batch follows once the first has been given up on.
    ASSERT_TRUE(WaitUntil([&] { return connected() == count; }, Scaled(30000))) << connected();
    ASSERT_TRUE(site.WaitForLog(count, Scaled(30000))) << site.Output();
    EXPECT_EQ(site.Stop(), 0);
  }
}

}  // namespace
}  // namespace tv::test
