// The real service with files a careless back office or a failing disk
// leaves: nothing is lost or half read, and only regular files with names
// that map onto the host are taken.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include "site.h"

namespace tv::test {
namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

size_t GoodsRecords(const sim::SimScale& scale) {
  const auto lines = scale.JsonLines();
  return static_cast<size_t>(
      std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return Has(l, "\"kind\":\"goods\""); }));
}

std::string GoodsLine(int code) {
  const std::string file = GoodsFile(code);
  const size_t a = file.find("\r\nA") + 2;
  return file.substr(a, file.find("\r\n", a) - a + 2);
}

std::vector<LogLine> LinesFor(const Site& site, const std::string& file) {
  std::vector<LogLine> out;
  for (const LogLine& l : site.Log())
    if (l.file == file) out.push_back(l);
  return out;
}

TEST(FilesKept, AFileWhoseParkedCopyCannotBeWrittenStaysAndComesAgain) {
  Site site;
  site.AddHealthyAndRefusing(3, 4);
  site.Start({"TOVALINK_TEST_FAULTS=link:ENOSPC:times=1:path=*/Unsent/*"});
  site.Drop("prices.txt", GoodsFile());
  // The first copy for scale 4 meets the full disk, so the file stays; the
  // next cycle delivers it again and parks the copy.
  ASSERT_TRUE(WaitUntil([&] { return !site.Unsent().empty(); }, 20000)) << site.Output();
  ASSERT_TRUE(WaitUntil(
      [&] { return !platform::Env::Default()->FileExists(site.exportDir + "/prices.txt"); },
      10000));
  EXPECT_EQ(site.Stop(), 0);

  ASSERT_EQ(site.Unsent().size(), 1u);
  EXPECT_TRUE(Has(site.Unsent()[0], "prices004.txt")) << site.Unsent()[0];
  EXPECT_EQ(site.Scale(3).Frames().size(), 6u) << "scale 3 got the file in both cycles";
  const auto lines = LinesFor(site, "prices.txt");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const LogLine& l) { return l.code == 3; }), 2);
  EXPECT_TRUE(Has(site.output, site.exportDir + "/prices.txt not parked for 127.0.0.4: link ")) << site.output;
  EXPECT_TRUE(Has(site.output, site.exportDir + "/prices.txt kept in the export directory for the next cycle"))
      << site.output;
}

TEST(FilesKept, UnreadableUnparsableAndOversizedFilesAreRejectedNotDeleted) {
  Site site;
  site.AddScale(5);
  site.SetScales({5});
  site.SetValue("MaxFileSizeMB", 1);
  WriteFile(site.exportDir + "/Rejected/junk.txt", "rejected yesterday");
  site.Start({"TOVALINK_TEST_FAULTS=read:EIO:path=*/broken.txt;read:EACCES:path=*/locked.txt"});
  std::string big = "D000777\r\n";
  while (big.size() <= 1024 * 1024) big += GoodsLine(static_cast<int>(big.size()));
  const std::string junk = "this is no goods file\r\n";
  site.Drop("junk.txt", junk);
  site.Drop("broken.txt", GoodsFile(1));
  site.Drop("locked.txt", GoodsFile(2));
  site.Drop("big.txt", big);
  site.Drop("good.txt", GoodsFile(3));
  ASSERT_TRUE(site.WaitForLog(5)) << site.Output();
  for (const char* name : {"junk.txt", "broken.txt", "locked.txt", "big.txt", "good.txt"})
    EXPECT_TRUE(WaitUntil(
        [&] { return !platform::Env::Default()->FileExists(site.exportDir + "/" + name); }, 10000))
        << name;
  EXPECT_EQ(site.Stop(), 0);

  EXPECT_EQ(site.Rejected(),
            (std::vector<std::string>{"big.txt", "broken.txt", "junk.2.txt", "junk.txt", "locked.txt"}));
  EXPECT_EQ(ReadFile(site.exportDir + "/Rejected/junk.txt"), "rejected yesterday");
  EXPECT_EQ(ReadFile(site.exportDir + "/Rejected/junk.2.txt"), junk);
  EXPECT_EQ(ReadFile(site.exportDir + "/Rejected/broken.txt"), GoodsFile(1));
  EXPECT_EQ(ReadFile(site.exportDir + "/Rejected/big.txt"), big);
  for (const char* name : {"junk.txt", "broken.txt", "locked.txt", "big.txt"}) {
    const auto lines = LinesFor(site, name);
    ASSERT_EQ(lines.size(), 1u) << name;
    EXPECT_EQ(lines[0].code, 6) << name;
    EXPECT_EQ(lines[0].address, "") << name;
  }
  EXPECT_EQ(LinesFor(site, "good.txt").size(), 1u);
  EXPECT_EQ(GoodsRecords(site.Scale(5)), 1u) << "only good.txt reached the scale";
  const std::string& out = site.output;
  EXPECT_TRUE(Has(out, site.exportDir + "/broken.txt rejected into " + site.exportDir + "/Rejected/broken.txt: read "))
      << out;
  EXPECT_TRUE(Has(out, "Input/output error")) << out;
  EXPECT_TRUE(Has(out, "Permission denied")) << out;
  EXPECT_TRUE(Has(out, "more than MaxFileSizeMB 1 allows")) << out;
}

// Every step of the writer waits for a cycle that saw the file unfinished.
TEST(FilesKept, AFileStillBeingWrittenWaitsUntilItHasBeenQuiet) {
  Site site;
  site.quietMs = "";  // the service's own quiet period
  site.AddScale(6);
  site.SetScales({6});
  // A cycle that changes nothing says so at debug level only.
  site.Start({"TOVALINK_LOG_LEVEL=debug"});
  const std::string path = site.exportDir + "/slow.txt";
  ASSERT_TRUE(
      WaitUntil([&] { return platform::Env::Default()->DirectoryExists(site.exportDir); }, 10000));
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("D000777\r\n", f);
  std::fflush(f);
  const int kGoods = 4;
  for (int i = 1; i <= kGoods + 1; ++i) {
    const size_t cycles = Count(site.Output(), "export cycle:");
    ASSERT_TRUE(WaitUntil([&] { return Count(site.Output(), "export cycle:") > cycles; }, 10000))
        << "the growing file is still waiting work, step " << i << "\n"
        << site.Output();
    EXPECT_TRUE(site.Log().empty()) << "taken half-written at step " << i;
    std::fputs(i <= kGoods ? GoodsLine(i).c_str() : "T202403050907\r\n", f);
    std::fflush(f);
  }
  std::fclose(f);
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  ASSERT_TRUE(WaitUntil([&] { return !platform::Env::Default()->FileExists(path); }, 10000));
  EXPECT_EQ(site.Stop(), 0);
  ASSERT_EQ(site.Log().size(), 1u);
  EXPECT_EQ(site.Log()[0].code, 0);
  EXPECT_EQ(GoodsRecords(site.Scale(6)), static_cast<size_t>(kGoods));
  EXPECT_EQ(site.Scale(6).Frames().size(), static_cast<size_t>(kGoods + 2)) << "the deletion and the clock too";
}

// A file renamed into place, or closed after writing, is complete: its
// cycle starts at once, with no timer tick and no quiet period.  A file its
// writer keeps open is not taken until it is closed.
TEST(FilesKept, ARenamedOrClosedFileIsTakenAtOnceAnOpenOneWaits) {
  Site site;
  site.quietMs = "";                   // the service's own quiet period
  site.SetValue("VerInterval", 3600);  // no tick while the test looks
  site.AddScale(7);
  site.SetScales({7});
  site.Start();
  std::string out;
  auto answers = [&] {
    return RunBinary({TovalinkBinary(), "status"}, {"TOVALINK_HOME=" + site.home.Path()}, out) == 0;
  };
  ASSERT_TRUE(WaitUntil(answers, 20000)) << out << site.Output();
  site.Drop("renamed.txt", GoodsFile(6));
  EXPECT_TRUE(WaitUntil([&] { return site.Scale(7).Connections() >= 1; }, Scaled(100)))
      << "the renamed file's cycle had not started 100 ms after the rename";
  // Written after the renamed one, so it is the newer file: an older file
  // still being written would hold the renamed one back.
  const std::string open = site.exportDir + "/open.txt";
  FILE* f = std::fopen(open.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(GoodsFile(5).c_str(), f);
  std::fflush(f);

  ASSERT_TRUE(site.WaitForLog(1, Scaled(10000))) << site.Output();
  ASSERT_TRUE(WaitUntil(
      [&] { return !platform::Env::Default()->FileExists(site.exportDir + "/renamed.txt"); },
      Scaled(10000)));
  EXPECT_EQ(site.Log().size(), 1u);
  EXPECT_EQ(site.Log()[0].file, "renamed.txt");
  EXPECT_TRUE(platform::Env::Default()->FileExists(open)) << "taken while its writer held it open";

  std::fclose(f);
  EXPECT_TRUE(WaitUntil([&] { return site.Scale(7).Connections() >= 2; }, Scaled(1000)))
      << "the closed file waited for the timer";
  ASSERT_TRUE(site.WaitForLog(2, Scaled(10000))) << site.Output();
  EXPECT_EQ(site.Log()[1].file, "open.txt");
  EXPECT_EQ(site.Log()[1].code, 0);
  EXPECT_EQ(site.Stop(), 0);
}

// A file there before the start waits out its quiet period; one renamed in
// after the start is known whole at once but must not overtake it.
TEST(FilesKept, AFileRenamedInAfterTheStartWaitsBehindAnOlderOneStillQuiet) {
  Site site;
  site.quietMs = std::to_string(Scaled(1500));
  site.AddScale(7);
  site.SetScales({7});
  site.Drop("older.txt", GoodsFile(5));
  site.Start();
  // Once the start is reported, the export directory is watched.
  ASSERT_TRUE(WaitUntil([&] { return Has(site.Output(), "in the scale list"); }, Scaled(10000)))
      << site.Output();
  site.Drop("newer.txt", GoodsFile(6));
  ASSERT_TRUE(site.WaitForLog(2, Scaled(15000))) << site.Output();
  EXPECT_EQ(site.Log()[0].file, "older.txt");
  EXPECT_EQ(site.Log()[1].file, "newer.txt");
  EXPECT_EQ(site.Stop(), 0);
}

TEST(FilesKept, TemporaryCopiesLeftByAKillAreRemovedAtStart) {
  Site site;
  site.AddScale(9);
  site.SetScales({9});
  const std::string unsent = site.exportDir + "/Unsent/";
  const std::string stale = unsent + ".{00000000-0000-0000-0000-000000000001}prices009.txt.4242.0.tmp";
  const std::string notes = unsent + ".notes";
  WriteFile(stale, GoodsFile());
  WriteFile(notes, "not a copy of ours");
  site.Start();
  ASSERT_TRUE(WaitUntil([&] { return !platform::Env::Default()->FileExists(stale); }, 10000))
      << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_TRUE(platform::Env::Default()->FileExists(notes));
  EXPECT_TRUE(Has(site.output, "prices009.txt.4242.0.tmp removed")) << site.output;
  EXPECT_EQ(site.Scale(9).Connections(), 0) << "a temporary copy is never delivered";
}

// The service started under a file size limit that leaves room for one
// more log line but not two: the second is cut back, never left torn.
TEST(FilesKept, ALogLineThatDoesNotFitIsLeftOutWholeNotTorn) {
  Site site;
  site.AddScale(3);
  site.AddScale(4);
  site.SetScales({3, 4});
  const std::string log = site.logDir + "/sclogo.csv";
  std::string earlier;
  while (earlier.size() < (8u << 20)) earlier += "01.01.2026,00:00:00,127.0.0.9,0,old.txt\r\n";
  WriteFile(log, earlier);
  {
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limit = previous;
    limit.rlim_cur = earlier.size() + 60;  // one line is about 45 bytes
    auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    site.Start();  // the service inherits the limit
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, handler);
  }
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(WaitUntil([&] { return Has(site.Output(), "delivery log line for prices.txt lost"); }, 20000))
      << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  const std::string text = ReadFile(log);
  ASSERT_GT(text.size(), earlier.size());
  ASSERT_EQ(text.compare(0, earlier.size(), earlier), 0);
  const std::string added = text.substr(earlier.size());
  EXPECT_EQ(Count(added, "\r\n"), 1u) << added;
  EXPECT_EQ(added.substr(added.size() - 2), "\r\n") << "whole lines only: " << added;
  EXPECT_EQ(Count(added, ",prices.txt\r\n"), 1u) << added;
  EXPECT_TRUE(Has(site.output, "File too large")) << site.output;
}

TEST(OddEntries, OnlyRegularFilesWithMappableNamesAreTakenEachOddOneWarnedOnce) {
  Site site;
  site.AddHealthyAndRefusing(7, 8);
  ASSERT_TRUE(platform::Env::Default()->CreateDirectories(site.exportDir).ok());
  const std::string secret = site.home / "secret.txt";
  WriteFile(secret, GoodsFile(999));
  ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((site.exportDir + "/fifo.txt").c_str(), 0644), 0);
  ASSERT_EQ(::symlink(secret.c_str(), (site.exportDir + "/link.txt").c_str()), 0);
  WriteFile(site.exportDir + "/new\nline.txt", GoodsFile(41));
  WriteFile(site.exportDir + "/back\\slash.txt", GoodsFile(42));
  // A cycle that changes nothing says so at debug level only.
  site.Start({"TOVALINK_LOG_LEVEL=debug"});
  const std::string odd = "a,\"b\".txt";
  site.Drop(odd, GoodsFile(43));
  ASSERT_TRUE(site.WaitForLog(2)) << site.Output();
  // Scale 8's parked copy keeps cycles coming: the odd entries meet several.
  const size_t cycles = Count(site.Output(), "export cycle:");
  ASSERT_TRUE(WaitUntil([&] { return Count(site.Output(), "export cycle:") >= cycles + 3; }, 20000))
      << site.Output();
  EXPECT_EQ(site.Stop(10000), 0) << "no FIFO holds a cycle";

  const std::string& out = site.output;
  // The service log shows a control character as a blank.
  for (const char* name : {"/fifo.txt skipped", "/link.txt skipped", "/new line.txt skipped", "/back\\slash.txt skipped"})
    EXPECT_EQ(Count(out, name), 1u) << name << "\n" << out;
  EXPECT_EQ(GoodsRecords(site.Scale(7)), 1u) << "only the regular file was delivered";
  EXPECT_EQ(ReadFile(secret), GoodsFile(999));
  EXPECT_TRUE(platform::Env::Default()->FileExists(site.exportDir + "/link.txt"));

  ASSERT_EQ(site.Unsent().size(), 1u);
  struct stat st {};
  ASSERT_EQ(::stat((site.exportDir + "/Unsent/" + site.Unsent()[0]).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777 & ~0640u, 0u) << std::oct << (st.st_mode & 0777);

  // The name keeps its comma and quotes inside one quoted field.
  const std::vector<std::string> raw = Lines(ReadFile(site.logDir + "/sclogo.csv"));
  ASSERT_EQ(raw.size(), 2u);
  for (const std::string& line : raw) EXPECT_TRUE(Has(line, ",\"a,\"\"b\"\".txt\"")) << line;
  EXPECT_TRUE(Has(raw[0] + raw[1], ",127.0.0.7,0,\"a,")) << raw[0] << raw[1];
}

}  // namespace
}  // namespace tv::test
