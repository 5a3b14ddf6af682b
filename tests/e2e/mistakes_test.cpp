// The real service and commands with the mistakes a shop makes first: a
// goods file read with the wrong layout or separator, a keyboard file no
// scale can take.  None of them may look delivered.
#include <gtest/gtest.h>

#include <algorithm>

#include "site.h"

namespace tv::test {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The goods-file documentation's example in its two conventions.
const std::string kSemicolonFile =
    "A;2001234;000123;x;x;0;0;1,50;5;x;Apple\r\n"
    "I;000123;Flour;Sugar;\r\n"
    "D;77\r\n"
    "T;2024;3;5;9;7\r\n";
const std::string kCommaFile =
    "A,2001234,000123,x,x,0,0,1.50,5,x,Apple\r\n"
    "I,000123,Flour,Sugar,\r\n"
    "D,77\r\n"
    "T,2024,3,5,9,7\r\n";

std::vector<LogLine> LinesFor(const Site& site, const std::string& file) {
  std::vector<LogLine> out;
  for (const LogLine& l : site.Log())
    if (l.file == file) out.push_back(l);
  return out;
}

int Explain(const Site& site, const std::string& path, std::string& out,
            std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {TovalinkBinary(), "explain", path};
  args.insert(args.end(), extra.begin(), extra.end());
  return RunBinary(args, {"TOVALINK_HOME=" + site.home.Path(), "LC_ALL=C"}, out);
}

// One cycle per file, each a fresh site, so the cause of each is its own.
void ExpectRejectedUnsent(int importType, const std::string& content, const std::string& cause) {
  Site site;
  site.AddScale(3);
  site.SetScales({3});
  site.SetValue("ImportType", importType);
  site.Start();
  site.Drop("prices.txt", content);
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  ASSERT_TRUE(WaitUntil([&] { return !site.Rejected().empty(); }, 10000)) << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_TRUE(site.Scale(3).Frames().empty()) << "no deletion, no clock, nothing";
  const auto lines = LinesFor(site, "prices.txt");
  ASSERT_EQ(lines.size(), 1u) << site.output;
  EXPECT_EQ(lines[0].code, 6);
  EXPECT_EQ(lines[0].address, "");
  EXPECT_EQ(site.Rejected(), std::vector<std::string>{"prices.txt"});
  EXPECT_TRUE(Has(site.output, cause)) << site.output;
  EXPECT_TRUE(site.Unsent().empty());

  // explain refuses it the same way, with the same cause.
  std::string out;
  const std::string path = site.home / "again.txt";
  WriteFile(path, content);
  EXPECT_EQ(Explain(site, path, out), 2) << out;
  EXPECT_TRUE(Has(out, cause)) << out;
}

TEST(WrongLayout, ASemicolonFileReadAtCommasIsRejectedWithItsCause) {
  ExpectRejectedUnsent(1, kSemicolonFile,
                       "the lines look ';'-separated, ImportType 1 splits at ','");
}

TEST(WrongLayout, ADelimitedFileReadAsFixedColumnsIsRejectedWithItsCause) {
  ExpectRejectedUnsent(0, kCommaFile, "the lines look delimited, ImportType 0 reads fixed columns");
}

TEST(WrongLayout, AFileWithSomeLinesSkippedIsDeliveredAndCountedAlikeByExplain) {
  Site site;
  site.AddScale(3);
  site.SetScales({3});
  site.SetValue("ImportType", 1);
  const std::string file = kCommaFile + "A,broken\r\n";
  const std::string path = site.home / "copy.txt";
  WriteFile(path, file);
  std::string explained;
  EXPECT_EQ(Explain(site, path, explained), 2) << explained;
  site.Start();
  site.Drop("prices.txt", file);
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  const auto lines = LinesFor(site, "prices.txt");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].code, 0);
  EXPECT_TRUE(site.Rejected().empty());
  const std::string counted = "5 lines read, 1 skipped; first skipped: line 5";
  EXPECT_TRUE(Has(site.output, "prices.txt: " + counted)) << site.output;
  EXPECT_TRUE(Has(explained, "service log: copy.txt: " + counted)) << explained;
}

TEST(WrongLayout, ExplainRefusesAnEmptyFileAndTellsWhereACtrlZStoppedReading) {
  Site site;
  const std::string empty = site.home / "empty.txt";
  WriteFile(empty, "");
  std::string out;
  EXPECT_EQ(Explain(site, empty, out), 2) << out;
  EXPECT_TRUE(Has(out, "code 6")) << out;

  const std::string cut = site.home / "cut.txt";
  WriteFile(cut, GoodsFile() + "\x1A" + GoodsFile(124) + GoodsFile(125));
  EXPECT_EQ(Explain(site, cut, out), 0) << out;
  EXPECT_TRUE(Has(out, "reading stopped at a Ctrl-Z in line 4: 6 lines after it are not read"))
      << out;
}

}  // namespace
}  // namespace tv::test
