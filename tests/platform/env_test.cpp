// The host Env's contract and the fault-injecting Env built on it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>

#include "platform/env.h"
#include "platform/fault_env.h"
#include "testutil.h"

namespace tv::platform {
namespace {

using namespace std::chrono_literals;

class EnvTest : public ::testing::Test {
 protected:
  Env& env_ = *Env::Default();
  test::TempDir dir_;
};

TEST_F(EnvTest, FailuresCarryTheOperationThePathAndTheOsReason) {
  std::string data = "untouched";
  Status s = env_.ReadFile(dir_ / "missing.txt", &data);
  EXPECT_TRUE(s.IsNotFound());
  EXPECT_EQ(s.osError(), ENOENT);
  EXPECT_EQ(s.ToString(), "open " + (dir_ / "missing.txt") + ": No such file or directory");
  std::vector<FoundFile> found{FoundFile{"stale"}};
  EXPECT_TRUE(env_.FindFiles(dir_ / "nowhere/*", &found).IsNotFound());
  EXPECT_TRUE(found.empty());
  EXPECT_TRUE(env_.RemoveFile(dir_ / "missing.txt").IsNotFound());
  EXPECT_EQ(Status::OK().ToString(), "OK");
  EXPECT_TRUE(Status::IOError("append", "/x", ENOSPC).IsNoSpace());
  EXPECT_TRUE(Status::IOError("create", "/x", EACCES).IsPermissionDenied());
}

TEST_F(EnvTest, NewFilesAreExclusiveAndLinksNeverOverwrite) {
  ASSERT_TRUE(env_.WriteNewFile(dir_ / "a", "first").ok());
  Status again = env_.WriteNewFile(dir_ / "a", "second");
  EXPECT_TRUE(again.IsAlreadyExists()) << again.ToString();
  EXPECT_EQ(test::ReadFile(dir_ / "a"), "first");

  ASSERT_TRUE(env_.WriteFile(dir_ / "b", "other").ok());
  EXPECT_TRUE(env_.LinkFile(dir_ / "a", dir_ / "b").IsAlreadyExists());
  EXPECT_EQ(test::ReadFile(dir_ / "b"), "other");
  ASSERT_TRUE(env_.LinkFile(dir_ / "a", dir_ / "c").ok());
  EXPECT_EQ(test::ReadFile(dir_ / "c"), "first");

  ASSERT_TRUE(env_.RenameFile(dir_ / "c", dir_ / "b").ok()) << "a rename replaces";
  EXPECT_EQ(test::ReadFile(dir_ / "b"), "first");
}

TEST_F(EnvTest, AMoveWithoutReplacingKeepsBothFilesWhenTheTargetExists) {
  ASSERT_TRUE(env_.WriteFile(dir_ / "a", "first").ok());
  ASSERT_TRUE(env_.WriteFile(dir_ / "b", "other").ok());
  Status s = env_.MoveFileNoReplace(dir_ / "a", dir_ / "b");
  EXPECT_TRUE(s.IsAlreadyExists()) << s.ToString();
  EXPECT_EQ(test::ReadFile(dir_ / "a"), "first");
  EXPECT_EQ(test::ReadFile(dir_ / "b"), "other");

  ASSERT_TRUE(env_.MoveFileNoReplace(dir_ / "a", dir_ / "c").ok());
  EXPECT_FALSE(env_.FileExists(dir_ / "a")) << "moved, not copied";
  EXPECT_EQ(test::ReadFile(dir_ / "c"), "first");
  EXPECT_TRUE(env_.MoveFileNoReplace(dir_ / "a", dir_ / "d").IsNotFound());

  FaultInjectionEnv faulty(&env_);
  faulty.AddFault(FileFault{FileOp::kRename, "*/e", EXDEV});
  EXPECT_EQ(faulty.MoveFileNoReplace(dir_ / "c", dir_ / "e").osError(), EXDEV)
      << "a rename fault on the target";
  EXPECT_EQ(test::ReadFile(dir_ / "c"), "first");
}

TEST_F(EnvTest, LastWriteTimesKeepTheirFullResolutionAlsoThroughACopy) {
  ASSERT_TRUE(env_.WriteFile(dir_ / "src", "x").ok());
  const FileTime when = std::chrono::system_clock::from_time_t(1700000000) + 123456789ns;
  ASSERT_TRUE(env_.SetLastWriteTime(dir_ / "src", when).ok());
  FileInfo info;
  ASSERT_TRUE(env_.GetFileInfo(dir_ / "src", &info).ok());
  EXPECT_EQ(info.type, FileType::kRegular);
  EXPECT_EQ(info.size, 1u);
  EXPECT_EQ(info.lastWrite, when);

  ASSERT_TRUE(CopyFileNoOverwrite(env_, dir_ / "src", dir_ / "copy").ok());
  FileInfo copy;
  ASSERT_TRUE(env_.GetFileInfo(dir_ / "copy", &copy).ok());
  EXPECT_EQ(copy.lastWrite, when);
  EXPECT_TRUE(CopyFileNoOverwrite(env_, dir_ / "src", dir_ / "copy").IsAlreadyExists());
  EXPECT_FALSE(CopyFileNoOverwrite(env_, dir_.Path(), dir_ / "d").ok()) << "a directory is not copied";
  std::vector<FoundFile> found;
  ASSERT_TRUE(env_.FindFiles(dir_ / "*", &found).ok());
  ASSERT_EQ(found.size(), 2u) << "no temporary file is left behind";
  EXPECT_EQ(found[0].name, "copy");
  EXPECT_EQ(found[1].name, "src");
}

TEST_F(EnvTest, ChunkedReadsGiveTheWholeFile) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data += "line " + std::to_string(i) + "\r\n";
  ASSERT_TRUE(env_.WriteFile(dir_ / "f", data).ok());
  std::unique_ptr<SequentialFile> file;
  ASSERT_TRUE(env_.NewSequentialFile(dir_ / "f", &file).ok());
  std::string whole, chunk;
  size_t reads = 0;
  do {
    ASSERT_TRUE(file->Read(777, &chunk).ok());
    EXPECT_LE(chunk.size(), 777u);
    whole += chunk;
    ++reads;
  } while (!chunk.empty());
  EXPECT_EQ(whole, data);
  EXPECT_GT(reads, data.size() / 777);
  std::string all;
  ASSERT_TRUE(env_.ReadFile(dir_ / "f", &all).ok());
  EXPECT_EQ(all, data);
}

TEST_F(EnvTest, DirectoriesAreMadeWithTheirParents) {
  ASSERT_TRUE(env_.CreateDirectories(dir_ / "a/b/c/").ok());
  EXPECT_TRUE(env_.CreateDirectories(dir_ / "a/b").ok()) << "existing is fine";
  FileInfo info;
  ASSERT_TRUE(env_.GetFileInfo(dir_ / "a/b/c", &info).ok());
  EXPECT_EQ(info.type, FileType::kDirectory);
  ASSERT_TRUE(env_.WriteFile(dir_ / "file", "").ok());
  EXPECT_FALSE(env_.CreateDirectories(dir_ / "file").ok());
  EXPECT_FALSE(env_.CreateDirectories(dir_ / "file/sub").ok());
  EXPECT_FALSE(env_.CreateDirectories("").ok());
}

// The file size limit makes the kernel stop a write part-way, as a full
// disk does.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  bool ok() const { return ok_; }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
  bool ok_ = false;
};

TEST_F(EnvTest, AWriteStoppedPartWayLeavesNoPartOfIt) {
  const std::string line = "07.12.2026,12:00:00,127.0.0.5,0,prices.txt\r\n";
  ASSERT_TRUE(env_.AppendFile(dir_ / "log.csv", line).ok());
  Status append, create;
  {
    FileSizeLimit limit(line.size() + 10);
    ASSERT_TRUE(limit.ok());
    append = env_.AppendFile(dir_ / "log.csv", line);
    create = env_.WriteNewFile(dir_ / "new", std::string(line.size() + 20, 'x'));
  }
  EXPECT_EQ(append.osError(), EFBIG) << append.ToString();
  EXPECT_EQ(test::ReadFile(dir_ / "log.csv"), line) << "the part that fitted is taken back";
  EXPECT_EQ(create.osError(), EFBIG) << create.ToString();
  FileInfo info;
  EXPECT_TRUE(env_.GetFileInfo(dir_ / "new", &info).IsNotFound()) << "no truncated new file";
  ASSERT_TRUE(env_.AppendFile(dir_ / "log.csv", line).ok());
  EXPECT_EQ(test::ReadFile(dir_ / "log.csv"), line + line);
}

// A goods file is read only when it is a regular file, never through a
// link, never blocking on a FIFO, and never past the caller's limit.
TEST_F(EnvTest, OnlyRegularFilesAreReadAndNeverBeyondTheLimit) {
  test::WriteFile(dir_ / "goods.txt", "12345");
  std::string data;
  EXPECT_TRUE(ReadRegularFile(env_, dir_ / "goods.txt", 5, &data).ok());
  EXPECT_EQ(data, "12345");
  Status s = ReadRegularFile(env_, dir_ / "goods.txt", 4, &data);
  EXPECT_EQ(s.osError(), EFBIG);
  EXPECT_TRUE(data.empty());

  ASSERT_EQ(::symlink((dir_ / "goods.txt").c_str(), (dir_ / "link.txt").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir_ / "fifo.txt").c_str(), 0600), 0);
  EXPECT_EQ(ReadRegularFile(env_, dir_ / "link.txt", 100, &data).ToString(),
            "open " + (dir_ / "link.txt") + ": is a symbolic link");
  EXPECT_EQ(ReadRegularFile(env_, dir_ / "fifo.txt", 100, &data).ToString(),
            "open " + (dir_ / "fifo.txt") + ": not a regular file");
  EXPECT_FALSE(CopyFileNoOverwrite(env_, dir_ / "fifo.txt", dir_ / "copy.txt").ok());

  std::vector<FoundFile> found;
  ASSERT_TRUE(env_.FindFiles(dir_ / "*.txt", &found).ok());
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].name + (found[0].isRegular ? "+" : "-"), "fifo.txt-");
  EXPECT_EQ(found[1].name + (found[1].isRegular ? "+" : "-"), "goods.txt+");
  EXPECT_EQ(found[2].name + (found[2].isRegular ? "+" : "-"), "link.txt-");
}

// Root passes every read and write check, but not an execute check on a
// file without any execute bit: that case proves the rights reach access(2).
TEST_F(EnvTest, AccessChecksNameTheRightsAndTheReasonRefused) {
  ASSERT_TRUE(env_.WriteFile(dir_ / "plain", "x").ok());
  ASSERT_EQ(::chmod((dir_ / "plain").c_str(), 0644), 0);
  EXPECT_TRUE(env_.CheckAccess(dir_ / "plain", kMayRead).ok());
  EXPECT_TRUE(env_.CheckAccess(dir_.Path(), kMayWrite | kMayEnter).ok());
  Status run = env_.CheckAccess(dir_ / "plain", kMayRead | kMayEnter);
  EXPECT_TRUE(run.IsPermissionDenied()) << run.ToString();
  Status missing = env_.CheckAccess(dir_ / "missing", kMayRead);
  EXPECT_TRUE(missing.IsNotFound());
  EXPECT_EQ(missing.ToString(), "access " + (dir_ / "missing") + ": No such file or directory");

  FaultInjectionEnv faulty(&env_);
  faulty.AddFault(FileFault{FileOp::kStat, "*plain", EACCES});
  EXPECT_TRUE(faulty.CheckAccess(dir_ / "plain", kMayRead).IsPermissionDenied());
  EXPECT_TRUE(faulty.CheckAccess(dir_.Path(), kMayRead).ok());
}

TEST(TemporaryCopyNames, OnlyTheCopysOwnPatternIsOne) {
  EXPECT_TRUE(IsTemporaryCopyName(".{G}goods007.txt.4242.0.tmp"));
  EXPECT_TRUE(IsTemporaryCopyName(".data.1.22.tmp"));
  EXPECT_FALSE(IsTemporaryCopyName(".notes.tmp"));
  EXPECT_FALSE(IsTemporaryCopyName("{G}goods007.txt.4242.0.tmp"));
  EXPECT_FALSE(IsTemporaryCopyName(".x.4242.y.tmp"));
  EXPECT_FALSE(IsTemporaryCopyName("..1.2.tmp"));
}

TEST(FaultInjectionEnv, FailsTheChosenCallsOfTheChosenPathsOnly) {
  test::TempDir dir;
  FaultInjectionEnv env(Env::Default());
  env.AddFault(FileFault{FileOp::kAppend, "*.csv", ENOSPC, /*after=*/2, /*times=*/1});
  env.AddFault(FileFault{FileOp::kLink, "*", EACCES});
  std::vector<Status> appends;
  for (int i = 0; i < 4; ++i) appends.push_back(env.AppendFile(dir / "log.csv", "l\n"));
  EXPECT_TRUE(appends[0].ok() && appends[1].ok() && appends[3].ok());
  EXPECT_TRUE(appends[2].IsNoSpace());
  EXPECT_EQ(appends[2].ToString(), "append " + (dir / "log.csv") + ": No space left on device");
  EXPECT_EQ(test::ReadFile(dir / "log.csv"), "l\nl\nl\n") << "a failed call has no effect";
  EXPECT_TRUE(env.AppendFile(dir / "other.txt", "x").ok());

  Status link = env.LinkFile(dir / "log.csv", dir / "again.csv");
  EXPECT_TRUE(link.IsPermissionDenied());
  FileInfo info;
  EXPECT_TRUE(env.GetFileInfo(dir / "again.csv", &info).IsNotFound());
  EXPECT_EQ(env.Calls(FileOp::kAppend), 5);
  EXPECT_EQ(env.Failures(), 2);
  env.ClearFaults();
  EXPECT_TRUE(env.LinkFile(dir / "log.csv", dir / "again.csv").ok());
}

TEST(FaultInjectionEnv, ChunkReadsFailLikeWholeReads) {
  test::TempDir dir;
  test::WriteFile(dir / "f", "abcdef");
  FaultInjectionEnv env(Env::Default());
  env.AddFault(FileFault{FileOp::kRead, "*/f", EIO, /*after=*/1});
  std::unique_ptr<SequentialFile> file;
  ASSERT_TRUE(env.NewSequentialFile(dir / "f", &file).ok());
  std::string chunk;
  ASSERT_TRUE(file->Read(3, &chunk).ok());
  EXPECT_EQ(chunk, "abc");
  Status s = file->Read(3, &chunk);
  EXPECT_EQ(s.osError(), EIO);
  EXPECT_TRUE(chunk.empty());
  EXPECT_EQ(env.ReadFile(dir / "f", &chunk).osError(), EIO);
}

TEST(FaultInjectionEnv, FaultListsFromTheEnvironmentVariable) {
  const auto parsed = ParseFileFaults("append:ENOSPC:after=2;link:EIO:times=1:path=*/Unsent/*");
  ASSERT_TRUE(parsed.ok()) << parsed.status().ToString();
  const std::vector<FileFault>& faults = parsed.value();
  ASSERT_EQ(faults.size(), 2u);
  EXPECT_EQ(faults[0].op, FileOp::kAppend);
  EXPECT_EQ(faults[0].osError, ENOSPC);
  EXPECT_EQ(faults[0].after, 2);
  EXPECT_EQ(faults[0].times, -1);
  EXPECT_EQ(faults[0].pathPattern, "*");
  EXPECT_EQ(faults[1].op, FileOp::kLink);
  EXPECT_EQ(faults[1].times, 1);
  EXPECT_EQ(faults[1].pathPattern, "*/Unsent/*");
  const std::pair<const char*, const char*> bad[] = {
      {"", "no fault given"},
      {"append", "unknown operation in 'append'"},
      {"apend:ENOSPC", "unknown operation in 'apend:ENOSPC'"},
      {"append:ENOPE", "unknown error name in 'append:ENOPE'"},
      {"append:EIO:after=x", "bad setting 'after=x' in 'append:EIO:after=x'"},
      {"read:EIO:path=", "bad setting 'path=' in 'read:EIO:path='"},
  };
  for (const auto& [list, why] : bad)
    EXPECT_EQ(ParseFileFaults(list).status().ToString(), why) << list;
}

TEST_F(EnvTest, PathsResolveThroughLinksAsFarAsTheyExist) {
  ASSERT_EQ(::mkdir((dir_ / "real").c_str(), 0755), 0);
  ASSERT_EQ(::symlink((dir_ / "real").c_str(), (dir_ / "link").c_str()), 0);
  std::string home;
  ASSERT_TRUE(env_.ResolvePath(dir_.Path(), &home).ok());
  std::string resolved;
  ASSERT_TRUE(env_.ResolvePath(dir_ / "link/missing/../x/", &resolved).ok());
  EXPECT_EQ(resolved, home + "/real/x") << "link followed, .. taken out, no trailing slash";
  ASSERT_TRUE(env_.ResolvePath("/", &resolved).ok());
  EXPECT_EQ(resolved, "/");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  std::string here;
  ASSERT_TRUE(env_.ResolvePath(cwd, &here).ok());
  ASSERT_TRUE(env_.ResolvePath("rel/./name", &resolved).ok());
  EXPECT_EQ(resolved, here + "/rel/name") << "relative to the working directory";

  FaultInjectionEnv faulty(&env_);
  faulty.AddFault(FileFault{FileOp::kStat, "*/link*", EACCES});
  EXPECT_TRUE(faulty.ResolvePath(dir_ / "link", &resolved).IsPermissionDenied());
}

TEST_F(EnvTest, ExistencePredicatesTellFilesFromDirectories) {
  test::WriteFile(dir_ / "f", "x");
  ASSERT_EQ(::symlink(dir_.Path().c_str(), (dir_ / "dirlink").c_str()), 0);
  const struct {
    std::string path;
    bool file, directory;
  } cases[] = {{dir_ / "f", true, false},
               {dir_.Path(), false, true},
               {dir_ / "dirlink", false, true},
               {dir_ / "missing", false, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(env_.FileExists(c.path), c.file) << c.path;
    EXPECT_EQ(env_.DirectoryExists(c.path), c.directory) << c.path;
  }
}

}  // namespace
}  // namespace tv::platform
