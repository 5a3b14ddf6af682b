// CFiles on a failing disk: every failure becomes the operation's answer,
// its reason reaches the service log naming the file, and nothing is left
// half done.
#include <cerrno>

#include "files/fileproc.h"
#include "files_fixture.h"
#include "logcapture.h"
#include "platform/fault_env.h"

namespace tv::testing {
namespace {

using platform::FileFault;
using platform::FileOp;
using platform::LogLevel;
using Strings = std::vector<std::string>;

class FaultTest : public FilesTest {
 protected:
  std::string LogPath() const { return Host(std::string(kLogoDir) + "\\sclogo.csv"); }

  platform::FaultInjectionEnv env_{platform::Env::Default()};
  CFiles files_{settings_, Regional(), clock_, env_};
  test::LogCapture log_;
};

TEST_F(FaultTest, AFailedLogAppendIsFalseLoggedAndLeavesNoTornLine) {
  env_.AddFault(FileFault{FileOp::kAppend, "*sclogo.csv", ENOSPC, /*after=*/1, /*times=*/1});
  EXPECT_TRUE(files_.AppendLog("127.0.0.5", 0, "a.txt"));
  EXPECT_FALSE(files_.AppendLog("127.0.0.6", 1, "b.txt"));
  EXPECT_EQ(log_.Count(LogLevel::Error, {"b.txt", LogPath(), "No space left on device"}), 1u);
  EXPECT_TRUE(files_.AppendLog("127.0.0.7", 2, "c.txt"));
  EXPECT_EQ(test::ReadFile(LogPath()),
            "05.03.2024,09:07:05,127.0.0.5,0,a.txt\r\n"
            "05.03.2024,09:07:05,127.0.0.7,2,c.txt\r\n");
  EXPECT_EQ(log_.Lines().size(), 1u) << "lines that were written are not reported";
}

TEST_F(FaultTest, AParkedCopyThatFailsAtAnyStepLeavesNothingInUnsent) {
  WriteFile(Stored("prices.txt"), "D1\r\n", LocalAt(9, 59, 0));
  for (FileOp op : {FileOp::kRead, FileOp::kCreate, FileOp::kTouch, FileOp::kLink}) {
    SCOPED_TRACE(platform::FileOpName(op));
    env_.ClearFaults();
    log_.Clear();
    env_.AddFault(FileFault{op, "*", EIO});
    const int failuresBefore = env_.Failures();
    files_.CopyToUnsent(Stored("prices.txt"), "127.0.0.7");
    EXPECT_EQ(env_.Failures(), failuresBefore + 1) << "the copy reached the failing step";
    EXPECT_EQ(HostDirectory(StoredUnsent("")), Strings{}) << "no parked copy, no temporary file";
    EXPECT_EQ(log_.Count(LogLevel::Error, {"prices.txt not parked for 127.0.0.7", "Input/output error"}), 1u);
    EXPECT_EQ(test::ReadFile(Host(Stored("prices.txt"))), "D1\r\n") << "the source stays";
  }
}

TEST_F(FaultTest, RejectedFilesNeverOverwriteAndStayWhenTheyCannotMove) {
  const std::string rejected = Host(std::string(kExportDir) + "\\Rejected\\");
  WriteFile(Stored("data"), "first");
  EXPECT_TRUE(files_.MoveToRejected(Stored("data"), "no goods line"));
  WriteFile(Stored("data"), "second");
  EXPECT_TRUE(files_.MoveToRejected(Stored("data"), "no goods line"));
  EXPECT_EQ(test::ReadFile(rejected + "data"), "first");
  EXPECT_EQ(test::ReadFile(rejected + "data.2"), "second") << "a name without a dot is numbered at its end";

  // The move is one rename: it either happens or leaves the file where it was.
  const std::pair<FileOp, const char*> faults[] = {{FileOp::kMkdir, "*Rejected*"},
                                                   {FileOp::kRename, "*Rejected/bad.txt"}};
  for (const auto& [op, where] : faults) {
    SCOPED_TRACE(platform::FileOpName(op));
    env_.ClearFaults();
    log_.Clear();
    env_.AddFault(FileFault{op, where, EIO});
    WriteFile(Stored("bad.txt"), "kept");
    EXPECT_FALSE(files_.MoveToRejected(Stored("bad.txt"), "unreadable"));
    EXPECT_EQ(test::ReadFile(Host(Stored("bad.txt"))), "kept");
    EXPECT_FALSE(platform::Env::Default()->FileExists(rejected + "bad.txt")) << "one name only";
    EXPECT_EQ(log_.Count(LogLevel::Error, {"bad.txt cannot be delivered (unreadable) and is kept", "Input/output error"}),
              1u);
  }
}

TEST_F(FaultTest, AFailedDeleteKeepsTheFileAndSaysWhy) {
  WriteFile(Stored("prices.txt"), "D1\r\n");
  env_.AddFault(FileFault{FileOp::kRemove, "*prices.txt", EACCES, /*after=*/0, /*times=*/1});
  files_.DeleteIfExists(Stored("prices.txt"));
  EXPECT_TRUE(platform::Env::Default()->FileExists(Host(Stored("prices.txt"))));
  EXPECT_EQ(log_.Count(LogLevel::Error, {"prices.txt not deleted", "Permission denied"}), 1u);
  files_.DeleteIfExists(Stored("prices.txt"));
  EXPECT_FALSE(platform::Env::Default()->FileExists(Host(Stored("prices.txt"))));
  files_.DeleteIfExists(Stored("prices.txt"));
  EXPECT_EQ(log_.Lines().size(), 1u) << "a file that is not there is no failure";
}

TEST_F(FaultTest, AnUnreadableExportDirectoryIsReportedOnceWhileItLasts) {
  WriteFile(Stored("prices.txt"), "D1\r\n");
  env_.AddFault(FileFault{FileOp::kList, "*", EIO, /*after=*/0, /*times=*/4});
  EXPECT_FALSE(files_.HasPendingFiles(Mask()));
  EXPECT_FALSE(files_.HasPendingFiles(Mask()));
  EXPECT_EQ(log_.Count(LogLevel::Warning, {"export files cannot be checked", "Input/output error"}), 1u);
  EXPECT_TRUE(files_.HasPendingFiles(Mask())) << "the faults are spent";
  env_.AddFault(FileFault{FileOp::kList, "*", EIO, /*after=*/0, /*times=*/1});
  EXPECT_FALSE(files_.HasPendingFiles(Mask()));
  EXPECT_EQ(log_.Count(LogLevel::Warning, {"export files cannot be checked"}), 2u) << "it came back";

  env_.AddFault(FileFault{FileOp::kList, "*", EIO, /*after=*/0, /*times=*/1});
  Strings common{"stale"}, keyboard;
  files_.ListExportFiles(Mask(), common, keyboard);
  EXPECT_TRUE(common.empty());
  EXPECT_EQ(log_.Count(LogLevel::Error, {"export files not listed", "Input/output error"}), 1u);
}

// A delivered file that cannot be removed must not come back every cycle:
// it is left out of every listing while unchanged, by a second CFiles too
// (a restart), and comes back as soon as it changes.
TEST_F(FaultTest, ADeliveredFileThatCannotBeRemovedIsNotListedAgainWhileUnchanged) {
  const std::string record = home_ + "/undeletable-files";
  files_.SetQuietPeriod(std::chrono::milliseconds(0));
  files_.SetUndeletableRecord(record);
  WriteFile(Stored("prices.txt"), "D1\r\n", LocalAt(9, 0, 0));
  WriteFile(Stored("other.txt"), "D2\r\n", LocalAt(9, 0, 1));
  env_.AddFault(FileFault{FileOp::kRemove, "*prices.txt", EROFS});
  files_.RemoveDelivered(Stored("prices.txt"));
  files_.RemoveDelivered(Stored("prices.txt"));
  EXPECT_EQ(
      log_.Count(LogLevel::Error, {"prices.txt was delivered but cannot be removed", "Read-only"}),
      1u)
      << "one error per file";
  std::vector<std::string> common, keyboard;
  files_.ListExportFiles(Mask(), common, keyboard);
  EXPECT_EQ(common, Strings{Stored("other.txt")});

  CFiles restarted{settings_, Regional(), clock_, env_};
  restarted.SetQuietPeriod(std::chrono::milliseconds(0));
  restarted.SetUndeletableRecord(record);
  restarted.ListExportFiles(Mask(), common, keyboard);
  EXPECT_EQ(common, Strings{Stored("other.txt")});
  EXPECT_EQ(TUndeletableFiles::Read(env_, record).size(), 1u);

  WriteFile(Stored("prices.txt"), "D1\r\nD3\r\n", LocalAt(9, 0, 0));
  restarted.ListExportFiles(Mask(), common, keyboard);
  EXPECT_EQ(common, (Strings{Stored("prices.txt"), Stored("other.txt")}))
      << "new data is delivered";
  EXPECT_TRUE(TUndeletableFiles::Read(env_, record).empty());
}

TEST_F(FaultTest, TheRecordForgetsFilesRemovedByHandAtTheNextStart) {
  const std::string record = home_ + "/undeletable-files";
  files_.SetUndeletableRecord(record);
  WriteFile(Stored("a.txt"), "D1\r\n");
  WriteFile(Stored("b.txt"), "D2\r\n");
  env_.AddFault(FileFault{FileOp::kRemove, "*.txt", EROFS, /*after=*/0, /*times=*/2});
  files_.RemoveDelivered(Stored("a.txt"));
  files_.RemoveDelivered(Stored("b.txt"));
  ASSERT_EQ(TUndeletableFiles::Read(env_, record).size(), 2u);
  ASSERT_TRUE(platform::Env::Default()->RemoveFile(Host(Stored("a.txt"))).ok());
  TUndeletableFiles reloaded(env_, record);
  const auto left = TUndeletableFiles::Read(env_, record);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].path, Host(Stored("b.txt")));
}

TEST_F(FaultTest, AnUndeletableFileIsRemovedOnceItsCauseHasPassed) {
  const std::string record = home_ + "/undeletable-files";
  files_.SetUndeletableRecord(record);
  WriteFile(Stored("prices.txt"), "D1\r\n");
  env_.AddFault(FileFault{FileOp::kRemove, "*prices.txt", EACCES, /*after=*/0, /*times=*/1});
  files_.RemoveDelivered(Stored("prices.txt"));
  ASSERT_TRUE(platform::Env::Default()->FileExists(Host(Stored("prices.txt"))));
  EXPECT_FALSE(files_.HasPendingFiles(Mask())) << "the check removed it instead";
  EXPECT_FALSE(platform::Env::Default()->FileExists(Host(Stored("prices.txt"))));
  EXPECT_TRUE(TUndeletableFiles::Read(env_, record).empty());
}

}  // namespace
}  // namespace tv::testing
