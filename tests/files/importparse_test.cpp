// The goods file parser on bytes in memory, without any file.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "files/importparse.h"

namespace tv::testing {
namespace {

using Strings = std::vector<std::string>;
using Entries = std::vector<std::pair<std::string, std::string>>;

TEST(ImportBytesTest, FixedLayoutFromBytesReplacesWhatTheListsHeld) {
  TLineLists lists;
  lists.aLines = {"old"};
  lists.iValues.Set("old", "value");
  lists.tLines = {"old"};
  const std::string goods(132, '7');
  const std::string bytes = "A" + goods + "\r\nA" + goods + "x\r\nI12345          Flour\nD42\n";
  EXPECT_TRUE(ParseImportBytes(bytes, itFixed, ',', lists));
  EXPECT_EQ(lists.aLines, Strings{goods});
  EXPECT_EQ(lists.iValues.Entries(), (Entries{{"12345          ", "Flour"}}));
  EXPECT_EQ(lists.dLines, Strings{"42"});
  EXPECT_TRUE(lists.tLines.empty());
}

TEST(ImportBytesTest, DelimitedLayoutSplitsTextLinesAtTheGivenSeparator) {
  const std::string bytes = "I;000123;Flour\nI;000124,Salt\nA;x;y\nT;2024;3;5;9;7\n";
  for (uint8_t type : {itDelimited, itExtended}) {
    TLineLists lists;
    EXPECT_TRUE(ParseImportBytes(bytes, type, ';', lists));
    EXPECT_EQ(lists.iValues.Entries(), (Entries{{"000123", "Flour"}}));
    EXPECT_EQ(lists.aLines, Strings{";x;y"});
    EXPECT_EQ(lists.tLines, Strings{";2024;3;5;9;7"});
  }
  TLineLists comma;
  EXPECT_TRUE(ParseImportBytes(bytes, itDelimited, ',', comma));
  EXPECT_EQ(comma.iValues.Entries(), (Entries{{"000124", "Salt"}}));
}

TEST(ImportBytesTest, BytesAreTakenAsTheyStandUpToCtrlZ) {
  // A NUL byte is content like any other; Ctrl-Z where a line begins ends the file.
  const std::string bytes("D1\0" "2\r\nT\r\n\x1A" "D3\r\n", 14);
  TLineLists lists;
  EXPECT_TRUE(ParseImportBytes(bytes, itFixed, ',', lists));
  EXPECT_EQ(lists.dLines, Strings{std::string("1\0" "2", 3)});
  EXPECT_EQ(lists.tLines, Strings{""});
}

TEST(ImportBytesTest, NoDeliverableLineOrUnknownTypeGivesFalse) {
  TLineLists lists;
  EXPECT_FALSE(ParseImportBytes("", itFixed, ',', lists));
  EXPECT_FALSE(ParseImportBytes("I12345          Flour\n", itFixed, ',', lists));
  EXPECT_EQ(lists.iValues.Size(), 1u);
  EXPECT_FALSE(ParseImportBytes("D1\nT1\n", 3, ',', lists));
  EXPECT_TRUE(lists.dLines.empty());
  EXPECT_EQ(lists.iValues.Size(), 0u);
}

TEST(ImportBytesTest, ReadingFromAPositionAddsToTheLists) {
  const std::string bytes = "D1\nD2\n";
  TLineLists lists;
  lists.dLines = {"0"};
  size_t pos = 3;  // the second line
  EXPECT_TRUE(ReadImportLines(bytes, pos, false, ',', lists));
  EXPECT_EQ(lists.dLines, (Strings{"0", "2"}));
  EXPECT_EQ(pos, bytes.size());
}

TEST(ImportBytesTest, SkippedLinesAreCountedWithTheFirstOnesLineAndReason) {
  const std::string goods(132, '7');
  // Line 2 is one short of the fixed layout, line 4 has no text, line 5 an
  // unknown code; the blank line 3 counts neither as read nor as skipped.
  const std::string bytes = "A" + goods + "\r\nA" + goods.substr(1) + "\r\n\r\nI12345\r\nX1\r\nT1\r\n";
  TLineLists lists;
  lists.skips.Skip(9, "from an earlier file");
  EXPECT_TRUE(ParseImportBytes(bytes, itFixed, ',', lists));
  EXPECT_EQ(lists.skips.read, 5u);
  EXPECT_EQ(lists.skips.skipped, 3u);
  EXPECT_EQ(lists.skips.firstLine, 2u);
  EXPECT_EQ(lists.skips.firstReason, "A line of 132 characters, the fixed layout needs 133");
  EXPECT_EQ(lists.aLineNumbers, (std::vector<size_t>{1}));

  TLineLists delimited;
  EXPECT_TRUE(ParseImportBytes("A;x\nI;no separator\nA;y\n\x01\n", itDelimited, ',', delimited));
  EXPECT_EQ(delimited.skips.read, 4u);
  EXPECT_EQ(delimited.skips.skipped, 2u);
  EXPECT_EQ(delimited.skips.firstLine, 2u);
  EXPECT_EQ(delimited.skips.firstReason, "I line without a separator or text");
  EXPECT_EQ(delimited.aLineNumbers, (std::vector<size_t>{1, 3}));

  // Reading from a position numbers the lines from the start of the bytes.
  TLineLists resumed;
  size_t pos = 3;
  EXPECT_TRUE(ReadImportLines("D1\nQ2\n", pos, false, ',', resumed));
  EXPECT_EQ(resumed.skips.firstLine, 2u);
  EXPECT_EQ(resumed.skips.firstReason, "unknown line code 'Q'");
}

TEST(SkippedLinesTest, LaterSkipsKeepTheEarlierFirstLine) {
  TSkippedLines skips;
  skips.Add(0, 1, "nothing");
  EXPECT_EQ(skips.skipped, 0u);
  skips.Add(2, 7, "encoder");
  EXPECT_EQ(skips.skipped, 2u);
  EXPECT_EQ(skips.firstLine, 7u);
  skips.Add(1, 9, "later");
  EXPECT_EQ(skips.skipped, 3u);
  EXPECT_EQ(skips.firstLine, 7u);
  EXPECT_EQ(skips.firstReason, "encoder");
  skips.Add(1, 3, "earlier");
  EXPECT_EQ(skips.firstLine, 3u);
  EXPECT_EQ(skips.firstReason, "earlier");
  EXPECT_EQ(skips.skipped, 4u);
}

}  // namespace
}  // namespace tv::testing
