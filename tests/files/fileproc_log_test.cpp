#include "files/fileproc.h"
#include "files_fixture.h"

namespace tv::testing {
namespace {

// Last-write times as the log's DOS stamps compare them.
int32_t DosTime(const platform::FileInfo& info) {
  return platform::DosTimeFromUnix(std::chrono::system_clock::to_time_t(info.lastWrite));
}

using Strings = std::vector<std::string>;

class LogTest : public FilesTest {
 protected:
  std::string LogText() const {
    std::string text;
    platform::Env::Default()->ReadFile(Host(std::string(kLogoDir) + "\\sclogo.csv"), &text);
    return text;
  }

  CFiles files_{settings_, Regional(), clock_};
};

TEST_F(LogTest, TheFirstLineCreatesTheFileAndLaterLinesAppend) {
  ASSERT_FALSE(platform::Env::Default()->FileExists(Host(std::string(kLogoDir) + "\\sclogo.csv")));
  EXPECT_TRUE(files_.AppendLog("127.0.0.5", 0, "prices.txt"));
  EXPECT_EQ(LogText(), "05.03.2024,09:07:05,127.0.0.5,0,prices.txt\r\n");
  EXPECT_TRUE(files_.AppendLog("", 65535, "{G}prices005.txt"));
  EXPECT_EQ(LogText(),
            "05.03.2024,09:07:05,127.0.0.5,0,prices.txt\r\n"
            "05.03.2024,09:07:05,,65535,{G}prices005.txt\r\n");
}

// Only a field that would add a field or a line is quoted (RFC 4180); the
// host's date stays as it is formatted.
TEST_F(LogTest, ColumnsFollowTheHostFormatsAndOnlyANameThatNeedsItIsQuoted) {
  platform::Regional us = Regional();
  us.shortDateFormat = "%m/%d/%Y";
  us.longTimeFormat = "%I:%M:%S %p";
  CFiles usHost(settings_, us, clock_);
  EXPECT_TRUE(usHost.AppendLog("127.0.0.9", 2, "a,b.txt"));
  platform::Regional commas = Regional();
  commas.shortDateFormat = "%d,%m,%Y";
  CFiles commaHost(settings_, commas, clock_);
  EXPECT_TRUE(commaHost.AppendLog("127.0.0.9", 3, "c.txt"));
  EXPECT_TRUE(files_.AppendLog("127.0.0.9", 4, "say \"hi\"\r\nA1.txt"));
  EXPECT_EQ(LogText(),
            "03/05/2024,09:07:05 AM,127.0.0.9,2,\"a,b.txt\"\r\n"
            "05,03,2024,09:07:05,127.0.0.9,3,c.txt\r\n"
            "05.03.2024,09:07:05,127.0.0.9,4,\"say \"\"hi\"\"\r\nA1.txt\"\r\n");
}

TEST_F(LogTest, DateFormatsNamingTheWeekdayGetTheRightDay) {
  platform::Regional longDate = Regional();
  longDate.shortDateFormat = "%A %d %b %Y";  // the form some hosts use for their short date
  CFiles host(settings_, longDate, clock_);
  EXPECT_TRUE(host.AppendLog("127.0.0.9", 0, "c.txt"));
  EXPECT_EQ(LogText(), "Tuesday 05 Mar 2024,09:07:05,127.0.0.9,0,c.txt\r\n");
}

TEST_F(LogTest, FailuresAreSwallowedAndTheCurrentLogoDirIsUsed) {
  SetImportType(0, "C:\\NOWHERE\\logs");
  EXPECT_FALSE(files_.AppendLog("127.0.0.5", 1, "p.txt"));
  EXPECT_FALSE(platform::Env::Default()->DirectoryExists(Host("C:\\NOWHERE")));
  SetImportType(0, "");
  EXPECT_FALSE(files_.AppendLog("127.0.0.5", 1, "p.txt"));
  SetImportType(0, std::string(kExportDir));  // a reload moves the log at once
  EXPECT_TRUE(files_.AppendLog("127.0.0.5", 1, "p.txt"));
  EXPECT_TRUE(platform::Env::Default()->FileExists(Host(Stored("sclogo.csv"))));
  EXPECT_EQ(LogText(), "");
}

// "{" + 8-4-4-4-12 upper-case hex digits + "}".
bool IsBracedGuid(const std::string& text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  for (size_t i = 1; i < 37; ++i) {
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    char c = text[i];
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

class UnsentTest : public FilesTest {
 protected:
  // The parked files in Unsent, each checked for the braced GUID prefix;
  // returns the names with the GUID removed, sorted.
  Strings Parked() const {
    Strings suffixes;
    for (const auto& name : HostDirectory(StoredUnsent(""))) {
      EXPECT_TRUE(IsBracedGuid(name.substr(0, 38))) << name;
      suffixes.push_back(name.substr(std::min<size_t>(38, name.size())));
    }
    std::sort(suffixes.begin(), suffixes.end());
    return suffixes;
  }

  CFiles files_{settings_, Regional(), clock_};
};

TEST_F(UnsentTest, ParkedNamesCarryTheScaleNumber) {
  EXPECT_EQ(CFiles::ParkedNameSuffix("prices.txt", "192.168.0.7"), "prices007.txt");
  EXPECT_EQ(CFiles::ParkedNameSuffix("data", "127.0.0.12"), "012");
  EXPECT_EQ(CFiles::ParkedNameSuffix("price.list.txt", "127.0.0.25"), "price025.txt");
  EXPECT_EQ(CFiles::ParkedNameSuffix("prices.txt", "10.0.0.300"), "prices044.txt");
  EXPECT_EQ(CFiles::ParkedNameSuffix("prices.txt", "127.0.0.120"), "prices120.txt");
  EXPECT_EQ(CFiles::ParkedNameSuffix("prices.txt", "127.0.0.x"), "prices000.txt");
  EXPECT_EQ(CFiles::ScaleNumberFromAddress("7"), 7);
  EXPECT_EQ(CFiles::ScaleNumberFromAddress("1.2.3.4.5"), 0);  // "4.5" is no number
}

TEST_F(UnsentTest, ACopyIsParkedBesideTheSourceAndReadsBackItsScale) {
  WriteFile(Stored("prices.txt"), "D1\r\n", LocalAt(9, 59, 0));
  files_.CopyToUnsent(Stored("prices.txt"), "127.0.0.7");
  files_.CopyToUnsent(Stored("prices.txt"), "10.0.0.300");
  EXPECT_EQ(Parked(), (Strings{"prices007.txt", "prices044.txt"}));
  EXPECT_TRUE(platform::Env::Default()->FileExists(
      Host(Stored("prices.txt"))));  // the cycle deletes it later

  Strings unsent, keyboard;
  files_.ListUnsentFiles(Mask(), unsent, keyboard);
  ASSERT_EQ(unsent.size(), 2u);
  std::vector<int> scales;
  for (const auto& path : unsent) {
    EXPECT_EQ(path.rfind(StoredUnsent("{"), 0), 0u) << path;
    scales.push_back(CFiles::ScaleNumberFromFileName(path));
    std::string data;
    EXPECT_TRUE(platform::Env::Default()->ReadFile(Host(path), &data).ok());
    EXPECT_EQ(data, "D1\r\n");
    platform::FileInfo parked, source;
    EXPECT_TRUE(platform::Env::Default()->GetFileInfo(Host(path), &parked).ok());
    EXPECT_TRUE(platform::Env::Default()->GetFileInfo(Host(Stored("prices.txt")), &source).ok());
    EXPECT_EQ(DosTime(parked), DosTime(source));  // parked files sort by the back office's time
  }
  std::sort(scales.begin(), scales.end());
  EXPECT_EQ(scales, (std::vector<int>{7, 44}));
}

TEST_F(UnsentTest, NamesWithoutDotsAndWithSeveralDots) {
  WriteFile(Stored("data"), "T1\n");
  WriteFile(Stored("price.list.txt"), "T1\n");
  files_.CopyToUnsent(Stored("data"), "127.0.0.12");
  files_.CopyToUnsent(Stored("price.list.txt"), "127.0.0.25");
  EXPECT_EQ(Parked(), (Strings{"012", "price025.txt"}));
}

TEST_F(UnsentTest, NothingIsParkedWithoutAnAddressASourceOrForAParkedFile) {
  WriteFile(Stored("prices.txt"), "D1\n");
  files_.CopyToUnsent(Stored("prices.txt"), "  \t\r\n");
  files_.CopyToUnsent(Stored("missing.txt"), "127.0.0.7");
  WriteFile(Stored("{0F1E2D3C-0000-0000-0000-000000000000}prices007.txt"), "D1\n");
  files_.CopyToUnsent(Stored("{0F1E2D3C-0000-0000-0000-000000000000}prices007.txt"), "127.0.0.7");
  WriteFile(StoredUnsent("{A}p009.txt"), "D1\n");
  files_.CopyToUnsent(StoredUnsent("{A}p009.txt"), "127.0.0.9");
  EXPECT_EQ(HostDirectory(StoredUnsent("")), Strings{"{A}p009.txt"});
}

TEST_F(UnsentTest, RepeatedParkingNeverOverwritesAndLeavesNoTemporaryFiles) {
  WriteFile(Stored("prices.txt"), "D1\n");
  for (int i = 0; i < 5; ++i) files_.CopyToUnsent(Stored("prices.txt"), "127.0.0.3");
  Strings names = HostDirectory(StoredUnsent(""));
  EXPECT_EQ(names.size(), 5u);
  for (const auto& name : names) EXPECT_NE(name[0], '.') << name;
  EXPECT_EQ(Parked(), Strings(5, "prices003.txt"));
}

TEST_F(UnsentTest, DeleteIfExistsRemovesOnlyWhatIsThere) {
  WriteFile(Stored("prices.txt"), "D1\n");
  files_.DeleteIfExists(Stored("prices.txt"));
  EXPECT_FALSE(platform::Env::Default()->FileExists(Host(Stored("prices.txt"))));
  files_.DeleteIfExists(Stored("prices.txt"));  // already gone: no effect, no error
  files_.DeleteIfExists("");
  EXPECT_TRUE(platform::Env::Default()->DirectoryExists(Host(kExportDir)));
}

}  // namespace
}  // namespace tv::testing
