// The goods file parser on bytes in memory, without any file.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "files/importparse.h"

namespace tv::testing {
namespace {

// Views compared as text; those made of temporaries live through the comparison.
using Strings = std::vector<std::string_view>;
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

// The lines are views into the lists' own copy of the bytes: the caller's
// buffer may go, and a stray CR is squeezed out of that copy, not the input.
TEST(ImportBytesTest, ListsOwnTheBytesTheirLinesPointInto) {
  TLineLists lists;
  std::string input = "D12\r3\r\nI00123          Fl\rour\r\nT0101\r\n";
  {
    std::string bytes = input;
    ASSERT_TRUE(ParseImportBytes(std::move(bytes), itFixed, ',', lists));
  }
  ASSERT_TRUE(ParseImportBytes(std::string_view(input), itFixed, ',', lists));
  input.assign(input.size(), 'x');
  EXPECT_EQ(lists.dLines, Strings{"123"});
  EXPECT_EQ(lists.tLines, Strings{"0101"});
  EXPECT_EQ(lists.iValues.Entries(), (Entries{{"00123          ", "Flour"}}));

  // Reading on from a position copies only what it reads.
  size_t pos = 0;
  std::string more = "D7\nD8\n";
  EXPECT_TRUE(ReadImportLines(more, pos, false, ',', lists));
  more.assign(more.size(), 'y');
  EXPECT_EQ(lists.dLines, (Strings{"123", "7", "8"}));
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
  EXPECT_EQ(delimited.skips.firstReason, "I line without a ',' after its key or without text");
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

namespace tv::testing {
namespace {

TEST(ImportBytesTest, NotesSayWhatBecameOfEveryLine) {
  TLineLists lists;
  std::vector<TLineNote> notes;
  const std::string goods(132, '7');
  const std::string bytes = "A" + goods + "\r\nD000123\r\n\r\nI000000000000123Flour\r\nx\r\nA" +
                            goods.substr(1) + "\r\nT202403050907\r\n\x1A" + "A" + goods + "\r\n";
  ASSERT_TRUE(ParseImportBytes(bytes, itFixed, ',', lists, &notes));
  ASSERT_EQ(notes.size(), 6u) << "one note per coded line, none past the Ctrl-Z";
  const size_t lines[] = {1, 2, 4, 5, 6, 7};
  const char codes[] = {'A', 'D', 'I', 'x', 'A', 'T'};
  const bool filed[] = {true, true, true, false, false, true};
  for (size_t i = 0; i < notes.size(); ++i) {
    EXPECT_EQ(notes[i].line, lines[i]) << i;
    EXPECT_EQ(notes[i].code, codes[i]) << i;
    EXPECT_EQ(notes[i].filed, filed[i]) << i;
    EXPECT_EQ(notes[i].reason.empty(), filed[i]) << i << ": a reason exactly for each skipped line";
  }
  EXPECT_EQ(notes[2].key, "000000000000123");
  EXPECT_EQ(notes[3].reason, "unknown line code 'x'");
  EXPECT_EQ(notes[4].reason, "A line of 132 characters, the fixed layout needs 133");
  EXPECT_EQ(lists.skips.skipped, 2u);
  // The indices point at the entries the lines became.
  EXPECT_EQ(lists.dLines.at(notes[1].index), "000123");
  EXPECT_EQ(lists.tLines.at(notes[5].index), "202403050907");
  EXPECT_EQ(lists.aLines.at(notes[0].index), goods);
}

}  // namespace
}  // namespace tv::testing
