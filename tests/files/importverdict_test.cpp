// The cause named for a goods file whose A lines all fail: only a sign in
// the line itself may point at a layout or separator.
#include "files/importverdict.h"

#include <gtest/gtest.h>

#include "files/importparse.h"

namespace tv {
namespace {

TSkippedLines Read(const std::string& bytes, int importType, char separator) {
  TLineLists lists;
  ParseImportBytes(bytes, importType, separator, lists);
  return lists.skips;
}

TEST(ImportVerdict, NamesTheSeparatorOrLayoutTheLineShows) {
  const std::string semicolons = "A;2001234;000123;x;x;0;0;1,50;5;x;Apple\r\nD;77\r\n";
  EXPECT_EQ(LikelyLayoutMismatch(Read(semicolons, 1, ','), 1, ','),
            "the lines look ';'-separated, ImportType 1 splits at ','");
  EXPECT_EQ(LikelyLayoutMismatch(Read(semicolons, 0, ','), 0, ','),
            "the lines look delimited, ImportType 0 reads fixed columns");
  // Read at its own separator the line shows nothing wrong with the layout.
  EXPECT_EQ(LikelyLayoutMismatch(Read(semicolons, 1, ';'), 1, ';'), "");
  // A name with a comma or two in a ';' file is no sign of ','.
  EXPECT_EQ(LikelyLayoutMismatch(Read("A;1;2;Apples, red, sweet;x\r\n", 2, ';'), 2, ';'), "");
  EXPECT_EQ(LikelyLayoutMismatch(Read("A\t1\t2\t3\tPear\r\n", 1, ','), 1, ','),
            "the lines look TAB-separated, ImportType 1 splits at ','");
}

TEST(ImportVerdict, OnlyAFileWithGoodsLinesNoneOfWhichEncodesIsRefused) {
  const TSkippedLines withGoods = Read("A;1\r\nA;2\r\nT;2024\r\n", 1, ',');
  EXPECT_EQ(withGoods.goodsLines, 2u);
  EXPECT_TRUE(NoGoodsReadable(withGoods, 0));
  EXPECT_FALSE(NoGoodsReadable(withGoods, 1));
  EXPECT_FALSE(NoGoodsReadable(Read("D000077\r\nT202403050907\r\n", 0, ','), 0)) << "no A line: nothing to judge";
  // Without a sign in the line the reason is the first skipped line's.
  const TSkippedLines fixed = Read("Ashort\r\n", 0, ',');
  EXPECT_EQ(UnreadableGoodsReason(fixed, 0, ','),
            "none of its 1 A line can be read, nothing is sent: first skipped: line 1, A line of 6 characters, "
            "the fixed layout needs 133");
}

}  // namespace
}  // namespace tv
