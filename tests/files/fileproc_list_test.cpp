#include <algorithm>

#include "files/fileproc.h"
#include "files_fixture.h"

namespace tv::testing {
namespace {

using Strings = std::vector<std::string>;

class DiscoveryTest : public FilesTest {
 protected:
  // Files written by a test are complete at once.
  DiscoveryTest() { files_.SetQuietPeriod(std::chrono::milliseconds(0)); }
  CFiles files_{settings_, Regional()};
};

TEST_F(DiscoveryTest, EmptyFoldersHaveNothingPending) {
  EXPECT_FALSE(files_.HasPendingFiles(Mask()));
  Strings common{"stale"}, unsent{"stale"}, keyboard;
  files_.ListUnsentFiles(Mask(), unsent, keyboard);
  files_.ListExportFiles(Mask(), common, keyboard);
  EXPECT_TRUE(common.empty());
  EXPECT_TRUE(unsent.empty());
  EXPECT_TRUE(keyboard.empty());
}

TEST_F(DiscoveryTest, DirectoriesAndDotFilesNeverCount) {
  ASSERT_TRUE(platform::Env::Default()
                  ->CreateDirectories(Host(Stored("goods.txt")))
                  .ok());  // a directory matching the mask
  WriteFile(Stored(".hidden.txt"), "A");
  WriteFile(StoredUnsent(".{0}prices007.txt.1.tmp"), "A");  // a copy still being written
  EXPECT_FALSE(files_.HasPendingFiles(Mask()));
  Strings common, unsent, keyboard;
  files_.ListUnsentFiles(Mask(), unsent, keyboard);
  files_.ListExportFiles(Mask(), common, keyboard);
  EXPECT_TRUE(common.empty());
  EXPECT_TRUE(unsent.empty());
  EXPECT_TRUE(keyboard.empty());

  WriteFile(Stored("prices.txt"), "A");
  EXPECT_TRUE(files_.HasPendingFiles(Mask()));
  files_.ListExportFiles(Mask(), common, keyboard);
  EXPECT_EQ(common, Strings{Stored("prices.txt")});
}

TEST_F(DiscoveryTest, APendingFileInEitherPlaceWakesTheTimer) {
  WriteFile(StoredUnsent("{X}prices007.txt"), "A");
  EXPECT_TRUE(files_.HasPendingFiles(Mask()));
  ASSERT_TRUE(platform::Env::Default()->RemoveFile(Host(StoredUnsent("{X}prices007.txt"))).ok());
  WriteFile(Stored("layout.xml"), "<x/>");  // a keyboard file counts too
  EXPECT_TRUE(files_.HasPendingFiles(Mask()));
}

TEST_F(DiscoveryTest, OnlyTheExactLowerCaseXmlExtensionIsAKeyboardFile) {
  // "a.xml" sorts first in the search and is still a keyboard file.
  WriteFile(Stored("a.xml"), "<x/>");
  WriteFile(Stored("b.XML"), "<x/>");
  WriteFile(Stored("c.xml.txt"), "A");
  WriteFile(StoredUnsent("{G}k005.xml"), "<x/>");
  Strings common, unsent, keyboard{"kept"};
  files_.ListUnsentFiles(Mask(), unsent, keyboard);
  files_.ListExportFiles(Mask(), common, keyboard);
  EXPECT_EQ(keyboard, (Strings{"kept", StoredUnsent("{G}k005.xml"), Stored("a.xml")}));
  std::sort(common.begin(), common.end());
  EXPECT_EQ(common, (Strings{Stored("b.XML"), Stored("c.xml.txt")}));
  EXPECT_TRUE(unsent.empty());
}

TEST_F(DiscoveryTest, UnsentPatternPutsAStarBeforeTheMask) {
  WriteFile(StoredUnsent("{0F1E2D3C-0000-0000-0000-000000000000}price025.txt"), "A");
  WriteFile(StoredUnsent("{0F1E2D3C-0000-0000-0000-000000000001}other025.txt"), "A");
  WriteFile(Stored("price1.txt"), "A");
  WriteFile(Stored("xprice1.txt"), "A");
  Strings common, unsent, keyboard;
  files_.ListUnsentFiles(Mask("price*.txt"), unsent, keyboard);
  files_.ListExportFiles(Mask("price*.txt"), common, keyboard);
  EXPECT_EQ(unsent, Strings{StoredUnsent("{0F1E2D3C-0000-0000-0000-000000000000}price025.txt")});
  EXPECT_EQ(common, Strings{Stored("price1.txt")});
  EXPECT_EQ(CFiles::ScaleNumberFromFileName(unsent[0]), 25);
}

TEST_F(DiscoveryTest, PosixMasksListPosixPaths) {
  const std::string dir = Host(kExportDir) + "/";
  WriteFile(dir + "Unsent/{G}p001.txt", "A");
  Strings unsent, keyboard;
  files_.ListUnsentFiles(dir + "*.*", unsent, keyboard);
  EXPECT_EQ(unsent, Strings{dir + "Unsent/{G}p001.txt"});
}

TEST_F(DiscoveryTest, GoodsFilesComeOldestFirstAndEqualTimesByOriginalName) {
  // 10:00:00 and 10:00:01 differ, although one two-second DOS stamp.
  WriteFile(Stored("d.txt"), "A", LocalAt(10, 0, 1));
  WriteFile(Stored("b.txt"), "A", LocalAt(10, 0, 1));
  WriteFile(Stored("a.txt"), "A", LocalAt(10, 0, 0));
  WriteFile(Stored("c.txt"), "A", LocalAt(9, 59, 0));
  Strings common, keyboard;
  files_.ListExportFiles(Mask(), common, keyboard);
  EXPECT_EQ(common, (Strings{Stored("c.txt"), Stored("a.txt"), Stored("b.txt"), Stored("d.txt")}));

  // Parked copies go by the name behind the GUID, never by the GUID.
  WriteFile(StoredUnsent("{00000000-0000-0000-0000-000000000000}z007.txt"), "A", LocalAt(10, 0, 0));
  WriteFile(StoredUnsent("{FFFFFFFF-0000-0000-0000-000000000000}y007.txt"), "A", LocalAt(10, 0, 0));
  WriteFile(StoredUnsent("{88888888-0000-0000-0000-000000000000}x007.txt"), "A", LocalAt(10, 0, 1));
  Strings unsent;
  files_.ListUnsentFiles(Mask(), unsent, keyboard);
  EXPECT_EQ(unsent, (Strings{StoredUnsent("{FFFFFFFF-0000-0000-0000-000000000000}y007.txt"),
                             StoredUnsent("{00000000-0000-0000-0000-000000000000}z007.txt"),
                             StoredUnsent("{88888888-0000-0000-0000-000000000000}x007.txt")}));
}

TEST_F(DiscoveryTest, SortOrdersManyFilesAndStepsOverVanishedOnes) {
  const int minutes[] = {40, 5, 33, 12, 59, 1, 27, 18};
  Strings files;
  for (int i = 0; i < 8; ++i) {
    std::string name = Stored("f" + std::to_string(i) + ".txt");
    WriteFile(name, "A", LocalAt(8, minutes[i], 0));
    files.push_back(name);
  }
  Strings withGone = files;
  withGone.insert(withGone.begin() + 3, Stored("gone.txt"));
  files_.SortByFileTime(files);
  Strings expected = {Stored("f5.txt"), Stored("f1.txt"), Stored("f3.txt"), Stored("f7.txt"),
                      Stored("f6.txt"), Stored("f2.txt"), Stored("f0.txt"), Stored("f4.txt")};
  EXPECT_EQ(files, expected);

  files_.SortByFileTime(withGone);
  ASSERT_EQ(withGone.size(), 9u);
  EXPECT_NE(std::find(withGone.begin(), withGone.end(), Stored("gone.txt")), withGone.end());
  withGone.erase(std::find(withGone.begin(), withGone.end(), Stored("gone.txt")));
  EXPECT_EQ(withGone, expected);
}

TEST_F(DiscoveryTest, AMissingDirectoryIsQuietlyEmpty) {
  const std::string mask = "C:\\NOWHERE\\ExportDir\\*.*";
  EXPECT_FALSE(files_.HasPendingFiles(mask));
  Strings common{"old"}, unsent{"old"}, keyboard;
  files_.ListUnsentFiles(mask, unsent, keyboard);
  files_.ListExportFiles(mask, common, keyboard);
  EXPECT_TRUE(common.empty());
  EXPECT_TRUE(unsent.empty());
  EXPECT_TRUE(keyboard.empty());
}

TEST(ScaleNumberFromFileNameTest, ReadsTheThreeCharactersBeforeTheFirstDot) {
  EXPECT_EQ(CFiles::ScaleNumberFromFileName("C:\\X\\Unsent\\{A-B}price025.txt"), 25);
  EXPECT_EQ(CFiles::ScaleNumberFromFileName("5.txt"), 5);
  EXPECT_EQ(CFiles::ScaleNumberFromFileName("price.txt"), 0);
  EXPECT_EQ(CFiles::ScaleNumberFromFileName("abc300.txt"), 44);
  EXPECT_EQ(CFiles::ScaleNumberFromFileName("/x/y/{G}data012"), 0);  // no dot: first three characters
  EXPECT_EQ(CFiles::ScaleNumberFromFileName("12"), 12);
  EXPECT_EQ(CFiles::ScaleNumberFromFileName("{G}price.list255.txt"), 0);
  EXPECT_EQ(CFiles::ScaleNumberFromFileName(""), 0);
  EXPECT_EQ(CFiles::ScaleNumberFromFileName("C:\\dir.d\\p 12.txt"), 12);  // the dot in the folder is not looked at
  EXPECT_EQ(CFiles::ScaleNumberFromFileName("p1 2.txt"), 0);
}

// The service's own sightings decide, not the time stamp: a file is new (or
// changed) when first seen, and listed once it stayed so for the period.
TEST_F(DiscoveryTest, AFileIsListedOnlyAfterAQuietPeriodAndIsPendingMeanwhile) {
  files_.SetQuietPeriod(std::chrono::milliseconds(300));
  WriteFile(Stored("a.txt"), "D1\n", LocalAt(9, 0, 0));  // an old stamp changes nothing
  auto listed = [&] {
    Strings common, keyboard;
    files_.ListExportFiles(Mask(), common, keyboard);
    return common == Strings{Stored("a.txt")};
  };
  EXPECT_FALSE(listed());
  EXPECT_TRUE(files_.HasPendingFiles(Mask()));
  EXPECT_TRUE(test::WaitUntil(listed, 5000));
  ASSERT_TRUE(platform::Env::Default()->AppendFile(Host(Stored("a.txt")), "D2\n").ok());
  EXPECT_FALSE(listed()) << "a change starts the period again";
  EXPECT_TRUE(test::WaitUntil(listed, 5000));
}

}  // namespace
}  // namespace tv::testing
