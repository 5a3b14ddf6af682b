// The service log's line format as journald and a terminal read it.
#include "platform/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "testutil.h"

namespace tv::platform {
namespace {

// Runs `body` with standard error redirected into a file and gives what it wrote.
template <typename Body>
std::string CaptureStderr(const std::string& path, Body body) {
  std::fflush(stderr);
  int saved = ::dup(STDERR_FILENO);
  FILE* f = std::fopen(path.c_str(), "w");
  ::dup2(::fileno(f), STDERR_FILENO);
  body();
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  std::fclose(f);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Log, TerminalLinesNameTheLevelAndJournalLinesCarryThePriority) {
  test::TempDir dir;
  const std::string path = dir / "stderr";
  ::unsetenv("JOURNAL_STREAM");
  std::string plain = CaptureStderr(path, [] {
    LogError("scale %d: %s", 3, "refused");
    LogWarning("two\nlines");
    LogInfo("started");
    LogDebug("not shown at the default level");
  });
  const std::string stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d )";
  EXPECT_TRUE(std::regex_match(
      plain, std::regex(stamp + "tovalink: error: scale 3: refused\n" + stamp +
                        "tovalink: warning: two lines\n" + stamp + "tovalink: started\n")))
      << plain;
  // Whether stderr is the journal is decided once per process, so the journal
  // form is checked through StderrIsJournal's own contract.
  struct stat st {};
  ASSERT_EQ(::fstat(STDERR_FILENO, &st), 0);
  std::string stream = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  ::setenv("JOURNAL_STREAM", stream.c_str(), 1);
  EXPECT_TRUE(StderrIsJournal());
  ::setenv("JOURNAL_STREAM", "1:2", 1);
  EXPECT_FALSE(StderrIsJournal());
  ::unsetenv("JOURNAL_STREAM");
}

TEST(Log, ASinkReceivesLinesAtOrAboveTheThreshold) {
  std::vector<std::pair<LogLevel, std::string>> seen;
  SetLogSink([&](LogLevel level, std::string_view text) { seen.emplace_back(level, std::string(text)); });
  SetLogThreshold(LogLevel::Warning);
  LogInfo("dropped");
  LogWarning("kept %s", "x");
  SetLogThreshold(LogLevel::Debug);
  LogDebug("now kept");
  SetLogThreshold(LogLevel::Info);
  SetLogSink(nullptr);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, LogLevel::Warning);
  EXPECT_EQ(seen[0].second, "kept x");
  EXPECT_EQ(seen[1].second, "now kept");
}

}  // namespace
}  // namespace tv::platform
