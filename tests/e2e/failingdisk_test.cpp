// The real service on a disk that fails where a shop's disk fails: full
// while parking, logging or writing the store, unreadable goods files,
// folders it may not list, write or delete in.  Whatever fails, nothing is
// lost (a file is delivered, kept, parked or set aside) and nothing is
// claimed (no log line says 0 for a scale that did not get the file).
#include <gtest/gtest.h>

#include <algorithm>

#include "site.h"
#include "sqlite_integrity.h"

namespace tv::test {
namespace {

bool Contains(const std::string& text, const std::string& needle) {
  return text.find(needle) != std::string::npos;
}

size_t Occurrences(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

sim::Behaviour Refusing() {
  sim::Behaviour b;
  b.goodsAnswer = 0x15;
  return b;
}

// A shop of two scales: 3 takes every file, 4 refuses goods until told.
class FailingDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.AddScale(3);
    site_.AddScale(4, Refusing());
    site_.SetScales({3, 4});
  }

  // Log lines that say 0 for scale n and a name ending in `tail`: the
  // common file's own name, a parked copy's "prices004.txt", or ".txt".
  size_t Claims(int n, const std::string& tail) {
    const std::string address = "127.0.0." + std::to_string(n);
    std::vector<LogLine> log = site_.Log();
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const LogLine& l) {
      return l.address == address && l.code == 0 && EndsWith(l.file, tail);
    }));
  }
  // Goods records scale n acknowledged: one per whole delivery of GoodsFile().
  size_t GoodsTaken(int n) {
    size_t taken = 0;
    for (const std::string& line : site_.Scale(n).JsonLines())
      taken += Contains(line, "\"kind\":\"goods\"") && Contains(line, "\"answer\":\"06\"");
    return taken;
  }
  std::vector<std::string> ParkedFor(int n, const std::string& base) {
    char tail[32];
    std::snprintf(tail, sizeof tail, "%s%03d.txt", base.c_str(), n);
    std::vector<std::string> out;
    for (const std::string& name : site_.Unsent())
      if (name[0] == '{' && EndsWith(name, "}" + std::string(tail))) out.push_back(name);
    return out;
  }
  bool Waiting(const std::string& name) {
    return platform::Env::Default()->FileExists(site_.exportDir + "/" + name);
  }
  std::string Output() { return site_.service ? site_.service->Output() : site_.output; }
  // `base`.txt left the export folder with one copy parked for scale 4.
  bool LeftWithOneCopyFor4(const std::string& base) {
    return WaitUntil([&] { return !Waiting(base + ".txt") && ParkedFor(4, base).size() == 1; }, 30000);
  }
  bool Scale4ReturnsAndTakesItsCopies() {
    site_.Scale(4).SetBehaviour(sim::Behaviour{});
    return WaitUntil([&] { return site_.Unsent().empty(); }, 30000);
  }

  Site site_;
};

TEST_F(FailingDisk, AFullDiskWhileParkingKeepsTheFileUntilItsCopyIsParked) {
  // The copy's file meets the full disk, not the start's proof of the folder.
  site_.Start({"TOVALINK_TEST_FAULTS=create:ENOSPC:times=1:path=*/Unsent/*.tmp"});
  const std::string content = GoodsFile(321);
  site_.Drop("prices.txt", content);
  ASSERT_TRUE(WaitUntil(
      [&] { return !Waiting("prices.txt") && ParkedFor(4, "prices").size() == 1; }, 30000))
      << "the file was lost: neither kept nor parked for scale 4\n"
      << Output();
  EXPECT_EQ(site_.Stop(), 0);

  EXPECT_EQ(ReadFile(site_.exportDir + "/Unsent/" + ParkedFor(4, "prices")[0]), content);
  EXPECT_EQ(Claims(4, ".txt"), 0u);
  EXPECT_EQ(GoodsTaken(3), 2u) << "the kept file went to every scale again, harmlessly";
  EXPECT_EQ(Claims(3, "prices.txt"), 2u);
  EXPECT_EQ(site_.Results()["4"], 0);
  EXPECT_TRUE(Contains(site_.output, "No space left on device")) << site_.output;
}

TEST_F(FailingDisk, AnUnwritableUnsentFolderKeepsTheFileUntilEveryScaleHasIt) {
  // Turned unwritable after the start proved it writable: every copy fails.
  site_.Start({"TOVALINK_TEST_FAULTS=create:EACCES:path=*/Unsent/*.tmp"});
  site_.Drop("prices.txt", GoodsFile());
  // Two cycles have failed for scale 4 and each kept the file.
  ASSERT_TRUE(site_.Scale(4).WaitForConnections(2, 30000)) << Output();
  ASSERT_TRUE(Waiting("prices.txt")) << "deleted although scale 4 has no copy\n" << Output();
  EXPECT_EQ(Claims(4, ".txt"), 0u);

  site_.Scale(4).SetBehaviour(sim::Behaviour{});
  ASSERT_TRUE(WaitUntil([&] { return !Waiting("prices.txt"); }, 30000)) << Output();
  EXPECT_EQ(site_.Stop(), 0);
  EXPECT_EQ(GoodsTaken(4), 1u);
  EXPECT_EQ(Claims(4, "prices.txt"), 1u);
  EXPECT_TRUE(site_.Unsent().empty());
  EXPECT_TRUE(Contains(site_.output, "Permission denied")) << site_.output;
}

TEST_F(FailingDisk, AFullDiskForTheLogLosesWholeLinesAndNothingElse) {
  site_.Start({"TOVALINK_TEST_FAULTS=append:ENOSPC:times=2:path=*/sclogo.csv"});
  site_.Drop("prices.txt", GoodsFile(1));
  ASSERT_TRUE(LeftWithOneCopyFor4("prices")) << Output();
  site_.Drop("second.txt", GoodsFile(2));
  ASSERT_TRUE(site_.WaitForLog(2)) << Output();
  ASSERT_TRUE(LeftWithOneCopyFor4("second")) << Output();
  EXPECT_EQ(site_.Stop(), 0);

  std::vector<LogLine> log = site_.Log();
  ASSERT_EQ(log.size(), 2u) << "the lines of the first file met the full disk";
  EXPECT_EQ(log[0].file, "second.txt");
  EXPECT_EQ(log[1].file, "second.txt");
  const std::string raw = ReadFile(site_.logDir + "/sclogo.csv");
  EXPECT_EQ(Occurrences(raw, "\r\n"), 2u) << raw;
  EXPECT_TRUE(EndsWith(raw, "\r\n")) << raw;
  EXPECT_EQ(Claims(4, ".txt"), 0u);
  EXPECT_EQ(GoodsTaken(3), 2u);
  EXPECT_EQ(site_.Results()["3"], 1);
  EXPECT_EQ(site_.Results()["4"], 0);
  EXPECT_EQ(Occurrences(site_.output, "delivery log line for prices.txt lost"), 2u) << site_.output;
}

TEST_F(FailingDisk, AFullDiskForTheStoreStillDeliversParksAndLogs) {
  site_.Start({"TOVALINK_TEST_FAULTS=write:ENOSPC:path=*/registry.db*"});
  site_.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(LeftWithOneCopyFor4("prices")) << Output();
  ASSERT_TRUE(site_.WaitForLog(2)) << Output();
  EXPECT_EQ(site_.Stop(), 0);
  EXPECT_EQ(Claims(3, "prices.txt"), 1u);
  EXPECT_EQ(Claims(4, ".txt"), 0u);
  EXPECT_TRUE(site_.Results().empty()) << "no result could be stored";
  EXPECT_TRUE(Contains(site_.output, "result of scale 4 not stored")) << site_.output;
  EXPECT_EQ(IntegrityCheck(site_.StorePath()), "ok");

  // With room again the parked copy reaches scale 4 and its result is kept.
  site_.Scale(4).SetBehaviour(sim::Behaviour{});
  site_.Start();
  ASSERT_TRUE(WaitUntil([&] { return site_.Results()["4"] == 1; }, 30000)) << Output();
  EXPECT_EQ(site_.Stop(), 0);
  EXPECT_EQ(Claims(4, "prices004.txt"), 1u);
  EXPECT_TRUE(site_.Unsent().empty());
  EXPECT_EQ(IntegrityCheck(site_.StorePath()), "ok");
}

TEST_F(FailingDisk, AGoodsFileThatCannotBeReadIsSetAsideNotDeleted) {
  site_.Start({"TOVALINK_TEST_FAULTS=read:EIO:path=*/export/prices.txt"});
  const std::string first = GoodsFile(1), second = GoodsFile(2);
  const std::string rejected = site_.exportDir + "/Rejected";
  auto setAside = [&] {
    std::vector<platform::FoundFile> found;
    platform::Env::Default()->FindFiles(rejected + "/*", &found);
    std::vector<std::string> contents;
    // The reasons kept beside the files are hidden.
    for (const auto& f : found)
      if (f.name[0] != '.') contents.push_back(ReadFile(rejected + "/" + f.name));
    std::sort(contents.begin(), contents.end());
    return contents;
  };
  site_.Drop("prices.txt", first);
  ASSERT_TRUE(WaitUntil([&] { return setAside().size() == 1 && !Waiting("prices.txt"); }, 30000))
      << Output();
  site_.Drop("prices.txt", second);  // the same name again never overwrites the first
  ASSERT_TRUE(WaitUntil([&] { return setAside().size() == 2 && !Waiting("prices.txt"); }, 30000))
      << Output();
  EXPECT_EQ(site_.Stop(), 0);

  std::vector<std::string> expected{first, second};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(setAside(), expected);
  std::vector<LogLine> log = site_.Log();
  ASSERT_EQ(log.size(), 2u);
  for (const LogLine& l : log) {
    EXPECT_EQ(l.address, "");
    EXPECT_EQ(l.code, 6);
    EXPECT_EQ(l.file, "prices.txt");
  }
  EXPECT_EQ(site_.Scale(3).Connections() + site_.Scale(4).Connections(), 0);
  EXPECT_TRUE(Contains(site_.output, "Input/output error")) << site_.output;
}

TEST_F(FailingDisk, AParkedCopyThatCannotBeReadStaysParkedAndClaimsNothing) {
  site_.Start({"TOVALINK_TEST_FAULTS=read:EIO:times=2:path=*/Unsent/*"});
  site_.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(LeftWithOneCopyFor4("prices")) << Output();
  ASSERT_TRUE(Scale4ReturnsAndTakesItsCopies()) << Output();
  EXPECT_EQ(site_.Stop(), 0);
  EXPECT_EQ(Occurrences(site_.output, "Input/output error"), 2u) << site_.output;
  EXPECT_EQ(GoodsTaken(4), 1u);
  EXPECT_EQ(Claims(4, "prices004.txt"), 1u) << "claimed once, when it arrived";
  EXPECT_EQ(Claims(4, ".txt"), 1u);
}

TEST_F(FailingDisk, AnExportFolderItMayNotListOrDeleteInLosesNothing) {
  site_.Scale(4).SetBehaviour(sim::Behaviour{});
  site_.Drop("prices.txt", GoodsFile());
  // Several checks find the folder closed, then a delivered file cannot be
  // deleted once: it is not delivered again, and a later check removes it.
  site_.Start(
      {"TOVALINK_TEST_FAULTS=list:EACCES:times=6:path=*/export/*;remove:EACCES:times=1:path=*/"
       "prices.txt"});
  ASSERT_TRUE(WaitUntil([&] { return !Waiting("prices.txt"); }, 30000)) << Output();
  EXPECT_EQ(site_.Stop(), 0);
  EXPECT_EQ(GoodsTaken(3), 1u);
  EXPECT_EQ(GoodsTaken(4), 1u);
  EXPECT_EQ(Claims(3, "prices.txt"), 1u);
  EXPECT_EQ(Claims(4, "prices.txt"), 1u);
  EXPECT_TRUE(site_.Unsent().empty());
  EXPECT_TRUE(Contains(site_.output, "export files cannot be checked")) << site_.output;
  EXPECT_TRUE(Contains(site_.output, "prices.txt was delivered but cannot be removed"))
      << site_.output;
  EXPECT_TRUE(Contains(site_.output, "prices.txt removed after all")) << site_.output;
  EXPECT_TRUE(Contains(site_.output, "Permission denied")) << site_.output;
}

TEST_F(FailingDisk, AnUnsentFolderItMayNotListKeepsItsCopiesForLater) {
  site_.Start({"TOVALINK_TEST_FAULTS=list:EACCES:after=2:times=8:path=*/Unsent/*"});
  site_.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(LeftWithOneCopyFor4("prices")) << Output();
  ASSERT_TRUE(Scale4ReturnsAndTakesItsCopies()) << Output();
  EXPECT_EQ(site_.Stop(), 0);
  EXPECT_EQ(GoodsTaken(4), 1u);
  EXPECT_EQ(Claims(4, ".txt"), 1u);
  EXPECT_TRUE(Contains(site_.output, "Permission denied")) << site_.output;
}

}  // namespace
}  // namespace tv::test
