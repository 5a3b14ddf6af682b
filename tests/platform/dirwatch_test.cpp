// The export directory's watch: what it reports as complete, and what it
// must never report (a file its writer still holds open).
#include "platform/dirwatch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "testutil.h"

namespace tv::platform {
namespace {

// Every name reported until `want` is among them or the deadline passes.
std::vector<std::string> NamesUntil(DirWatch& w, const std::string& want, long timeoutMs) {
  std::vector<std::string> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::find(seen.begin(), seen.end(), want) == seen.end() &&
         std::chrono::steady_clock::now() < deadline) {
    for (std::string& n : w.Wait(50)) seen.push_back(std::move(n));
  }
  return seen;
}

TEST(DirWatch, ReportsRenamedAndClosedFilesNeverOneStillOpen) {
  test::TempDir dir;
  DirWatch w;
  ASSERT_TRUE(w.Watch(dir.Path()).ok());

  FILE* open = std::fopen((dir / "open.txt").c_str(), "wb");
  ASSERT_NE(open, nullptr);
  std::fputs("D000777\r\n", open);
  std::fflush(open);
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
  test::WriteFile(dir / ".part", "A");
  ASSERT_EQ(std::rename((dir / ".part").c_str(), (dir / "renamed.txt").c_str()), 0);

  std::vector<std::string> seen = NamesUntil(w, "renamed.txt", test::Scaled(2000));
  EXPECT_NE(std::find(seen.begin(), seen.end(), "renamed.txt"), seen.end());
  EXPECT_EQ(std::find(seen.begin(), seen.end(), "open.txt"), seen.end()) << "still open";
  EXPECT_EQ(std::find(seen.begin(), seen.end(), "sub"), seen.end()) << "a directory";

  std::fclose(open);
  seen = NamesUntil(w, "open.txt", test::Scaled(2000));
  EXPECT_NE(std::find(seen.begin(), seen.end(), "open.txt"), seen.end()) << "closed after writing";
}

TEST(DirWatch, AMissingDirectoryIsRefusedByNameAndWaitsForNothing) {
  test::TempDir dir;
  DirWatch w;
  const Status s = w.Watch(dir / "missing");
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.ToString().find(dir / "missing"), std::string::npos) << s.ToString();
  // Nothing watched returns at once: the caller falls back on its timer.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(w.Wait(60000).empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(test::Scaled(1000)));
}

}  // namespace
}  // namespace tv::platform
