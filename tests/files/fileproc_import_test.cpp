#include <algorithm>

#include "files/fileproc.h"
#include "files/importparse.h"
#include "files_fixture.h"

namespace tv::testing {
namespace {

using Strings = std::vector<std::string>;
using Entries = std::vector<std::pair<std::string, std::string>>;

class ImportTest : public FilesTest {
 protected:
  // Parses `data` as the file prices.txt with the given ImportType.
  bool Parse(const std::string& data, uint8_t importType = 0) {
    SetImportType(importType);
    WriteFile(Stored("prices.txt"), data);
    return files_.ParseImportFile(Stored("prices.txt"), lists_);
  }

  static std::string Goods(char fill, size_t length) { return std::string(length, fill); }

  CFiles files_{settings_, Regional(',')};
  TLineLists lists_;
};

TEST_F(ImportTest, FixedGoodsLinesMustBeExactly132Characters) {
  std::string data = "A" + Goods('1', 131) + "\r\nA" + Goods('2', 132) + "\r\nA" + Goods('3', 133) + "\r\n";
  EXPECT_TRUE(Parse(data));
  EXPECT_EQ(lists_.aLines, Strings{Goods('2', 132)});
  EXPECT_FALSE(files_.ImportOpen());
}

TEST_F(ImportTest, FixedTextLineKeyIsFifteenCharactersAsTheyStand) {
  std::string data =
      "I12345          Flour\x03Sugar\r\n"  // five digits, ten spaces, text
      "I000000000000077\r\n"                // 15 characters and nothing more: no value
      "I99\n"                                // line ends inside the key
      "T202403050907\r\n";
  EXPECT_TRUE(Parse(data));
  EXPECT_EQ(lists_.iValues.Entries(), (Entries{{"12345          ", "Flour\x03Sugar"}}));
  std::string value;
  EXPECT_TRUE(lists_.iValues.Get("12345          ", value));
  EXPECT_EQ(value, "Flour\x03Sugar");
}

TEST_F(ImportTest, KeysDifferingOnlyInCaseLeaveOneEntryWithTheLastKeyText) {
  std::string upper = "ABC\xC0\xC1" + std::string(10, ' ');  // Latin and Cyrillic capitals
  std::string lower = "abc\xE0\xE1" + std::string(10, ' ');
  EXPECT_TRUE(Parse("I" + upper + "first\nIother          x\nI" + lower + "second\nT\n"));
  EXPECT_EQ(lists_.iValues.Entries(), (Entries{{lower, "second"}, {"other          ", "x"}}));
}

TEST_F(ImportTest, DeletionLinesKeepTheirFirstFifteenCharacters) {
  EXPECT_TRUE(Parse("D1234567890123456789\r\nD42\r\nD\r\n"));
  EXPECT_EQ(lists_.dLines, (Strings{"123456789012345", "42", ""}));
}

TEST_F(ImportTest, LowerCaseAndUnknownCodesAreIgnored) {
  std::string data = "a" + Goods('1', 132) + "\nd42\ni12345          x\nt202403050907\nX\n\n\r\n";
  EXPECT_FALSE(Parse(data));
  EXPECT_TRUE(lists_.aLines.empty());
  EXPECT_EQ(lists_.iValues.Size(), 0u);
  EXPECT_TRUE(lists_.dLines.empty());
  EXPECT_TRUE(lists_.tLines.empty());
}

TEST_F(ImportTest, CtrlZWhereALineBeginsEndsTheFile) {
  EXPECT_TRUE(Parse("D1\r\nD2\r\nD3\r\n\x1A" "D4\r\nD5\r\n"));
  EXPECT_EQ(lists_.dLines, (Strings{"1", "2", "3"}));
}

TEST_F(ImportTest, CtrlZInsideAFieldEndsOnlyTheField) {
  // In the D field it ends the number; the rest of that line is skipped.
  EXPECT_TRUE(Parse("D12\x1A" "34\nT0101\n"));
  EXPECT_EQ(lists_.dLines, Strings{"12"});
  EXPECT_EQ(lists_.tLines, Strings{"0101"});
  // In the skipped rest of a line it ends the file.
  EXPECT_TRUE(Parse("D123456789012345xx\x1A\nD2\n"));
  EXPECT_EQ(lists_.dLines, Strings{"123456789012345"});
}

TEST_F(ImportTest, LfAndCrLfReadTheSameAndALoneCrIsDropped) {
  std::string lines[] = {"A" + Goods('9', 132), "I00123          Salt", "D77", "T202403050907"};
  std::string lf, crlf;
  for (const auto& l : lines) {
    lf += l + "\n";
    crlf += l + "\r\n";
  }
  lf.pop_back();  // the last line may lack its end
  ASSERT_TRUE(Parse(lf));
  TLineLists fromLf;
  fromLf.aLines = lists_.aLines;
  fromLf.dLines = lists_.dLines;
  fromLf.tLines = lists_.tLines;
  Entries lfValues = lists_.iValues.Entries();
  ASSERT_TRUE(Parse(crlf));
  EXPECT_EQ(lists_.aLines, fromLf.aLines);
  EXPECT_EQ(lists_.dLines, fromLf.dLines);
  EXPECT_EQ(lists_.tLines, fromLf.tLines);
  EXPECT_EQ(lists_.iValues.Entries(), lfValues);
  EXPECT_EQ(lists_.aLines.size(), 1u);

  // A CR inside a line is not content: 132 characters plus a stray CR still count as 132.
  std::string goods = Goods('5', 132);
  goods.insert(60, "\r");
  EXPECT_TRUE(Parse("A" + goods + "\r\nD1\r2\r\n"));
  EXPECT_EQ(lists_.aLines, Strings{Goods('5', 132)});
  EXPECT_EQ(lists_.dLines, Strings{"12"});
}

TEST_F(ImportTest, OtherImportTypesReadNothing) {
  EXPECT_FALSE(Parse("A" + Goods('1', 132) + "\nD1\nT1\n", 3));
  EXPECT_TRUE(lists_.aLines.empty());
  EXPECT_TRUE(lists_.dLines.empty());
  EXPECT_FALSE(files_.ImportOpen());
}

TEST_F(ImportTest, TextLinesAloneAreNotADelivery) {
  EXPECT_FALSE(Parse("I12345          Flour\nI12346          Sugar\n"));
  EXPECT_EQ(lists_.iValues.Size(), 2u);
  EXPECT_FALSE(Parse(""));
  EXPECT_TRUE(Parse("T\n"));  // an empty clock line is still a line
  EXPECT_EQ(lists_.tLines, Strings{""});
}

TEST_F(ImportTest, AFileThatCannotBeOpenedLeavesTheListsAlone) {
  ASSERT_TRUE(Parse("D1\n"));
  EXPECT_FALSE(files_.ParseImportFile(Stored("missing.txt"), lists_));
  EXPECT_EQ(lists_.dLines, Strings{"1"});
  EXPECT_FALSE(files_.ParseImportFile(kExportDir, lists_));  // a directory
  EXPECT_EQ(lists_.dLines, Strings{"1"});
  EXPECT_FALSE(files_.ImportOpen());
  // The next readable file replaces everything.
  EXPECT_TRUE(Parse("T2\n"));
  EXPECT_TRUE(lists_.dLines.empty());
  EXPECT_EQ(lists_.tLines, Strings{"2"});
}

TEST_F(ImportTest, RefusalsSayWhetherTheFileIsGoneUnreadableTooLargeOrEmpty) {
  EXPECT_FALSE(files_.ParseImportFile(Stored("missing.txt"), lists_));
  EXPECT_EQ(files_.LastRefusal(), TImportRefusal::kMissing);
  EXPECT_FALSE(files_.ParseImportFile(kExportDir, lists_));
  EXPECT_EQ(files_.LastRefusal(), TImportRefusal::kUnreadable);
  EXPECT_FALSE(Parse("I1              text\n"));
  EXPECT_EQ(files_.LastRefusal(), TImportRefusal::kNothingToSend);

  auto s = std::make_shared<TEngineSettings>(*settings_.Get());
  s->MaxFileSizeMB = 1;
  settings_.Set(s);
  std::string exact(1024 * 1024, '\n');
  exact.replace(0, 3, "D1\n");
  WriteFile(Stored("exact.txt"), exact);
  EXPECT_TRUE(files_.ParseImportFile(Stored("exact.txt"), lists_)) << "the limit itself is allowed";
  EXPECT_EQ(files_.LastRefusal(), TImportRefusal::kNone);
  WriteFile(Stored("big.txt"), exact + "\n");
  lists_.dLines = {"kept"};
  EXPECT_FALSE(files_.ParseImportFile(Stored("big.txt"), lists_));
  EXPECT_EQ(files_.LastRefusal(), TImportRefusal::kTooLarge);
  EXPECT_NE(files_.LastRefusalReason().find("1048577 bytes, more than MaxFileSizeMB 1"), std::string::npos)
      << files_.LastRefusalReason();
  EXPECT_EQ(lists_.dLines, Strings{"kept"}) << "nothing of it was read";
}

TEST_F(ImportTest, ReadersNeedAnOpenFile) {
  EXPECT_FALSE(files_.ReadFixedFormat(lists_));
  EXPECT_FALSE(files_.ReadDelimitedFormat(lists_));
  WriteFile(Stored("p.txt"), "D5\n");
  ASSERT_TRUE(files_.OpenImportFile(Stored("p.txt")));
  EXPECT_TRUE(files_.ImportOpen());
  EXPECT_TRUE(files_.ReadDelimitedFormat(lists_));
  files_.CloseImportFile();
  EXPECT_FALSE(files_.ImportOpen());
  EXPECT_EQ(lists_.dLines, Strings{"5"});
}

TEST_F(ImportTest, DelimitedGoodsLinesKeepAnyLengthAndTheirSeparator) {
  EXPECT_TRUE(Parse("A\r\nA,2001234,000123\r\nD,123\r\nT,2024,3,5,9,7\r\n", 1));
  EXPECT_EQ(lists_.aLines, (Strings{"", ",2001234,000123"}));
  EXPECT_EQ(lists_.dLines, Strings{",123"});
  EXPECT_EQ(lists_.tLines, Strings{",2024,3,5,9,7"});
}

TEST_F(ImportTest, DelimitedTextLinesSplitAtTheHostSeparator) {
  std::string data =
      "I,00123,Flour,Sugar\n"           // value keeps later separators
      "I,00124Salt\n"                    // no separator after the second character
      "I,00125,\n"                       // empty value
      "I,12345678901234567890,Long\n"    // key cut to 15
      "I00126|Pepper\n"                  // the configured separator is not used
      "A,x\n";
  EXPECT_TRUE(Parse(data, 2));
  EXPECT_EQ(lists_.iValues.Entries(),
            (Entries{{"00123", "Flour,Sugar"}, {"123456789012345", "Long"}}));
}

TEST_F(ImportTest, DelimitedLayoutUsesTheHostListSeparator) {
  CFiles semicolonHost(settings_, Regional(';'));
  SetImportType(1);
  WriteFile(Stored("p.txt"), "I;000123;Flour\nI;000124,Salt\nD;5\n");
  ASSERT_TRUE(semicolonHost.ParseImportFile(Stored("p.txt"), lists_));
  EXPECT_EQ(lists_.iValues.Entries(), (Entries{{"000123", "Flour"}}));

  platform::Regional none = Regional(0);  // a host without one falls back to ","
  CFiles defaultHost(settings_, none);
  ASSERT_TRUE(defaultHost.ParseImportFile(Stored("p.txt"), lists_));
  EXPECT_EQ(lists_.iValues.Entries(), (Entries{{"000124", "Salt"}}));
}

TEST_F(ImportTest, ImportTypeIsReadAtEveryParse) {
  std::string data = "A,short\n";
  EXPECT_FALSE(Parse(data, 0));  // too short for the fixed layout
  EXPECT_TRUE(Parse(data, 1));
  EXPECT_EQ(lists_.aLines, Strings{",short"});
}

TEST_F(ImportTest, ManyTextLinesParseInLinearTime) {
  std::string data;
  const int count = 100000;
  for (int i = 0; i < count; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "%015d", i);
    data += "I" + std::string(key) + "Ingredients of goods number " + std::to_string(i) + "\x03\r\n";
  }
  data += "D1\r\n";
  EXPECT_TRUE(Parse(data));  // a quadratic table would not finish within the test time-out
  EXPECT_EQ(lists_.iValues.Size(), static_cast<size_t>(count));
  std::string value;
  EXPECT_TRUE(lists_.iValues.Get("000000000099999", value));
  EXPECT_EQ(value, "Ingredients of goods number 99999\x03");
}

// The file is read in chunks; lines that cross a chunk's end, a Ctrl-Z far
// into the file and the line numbers of skipped lines come out as when the
// whole file is parsed at once.
TEST_F(ImportTest, ChunkedReadingFilesExactlyWhatTheWholeFileGives) {
  for (uint8_t type : {uint8_t{0}, uint8_t{1}}) {
    SCOPED_TRACE(static_cast<int>(type));
    std::string data;
    for (int i = 0; data.size() < 300000; ++i) {
      data += "A" + Goods(static_cast<char>('a' + i % 26), 132 + (i % 7 == 0)) + (i % 2 ? "\r\n" : "\n");
      data += "I" + std::to_string(i) + std::string(i % 40, ' ') + "|" + "text " + std::to_string(i) + "\n";
      if (i % 1000 == 999) data += "D" + std::to_string(i) + "\nQ unknown\n\n";
    }
    const std::string withEnd = data + "\x1A" + "D after the end\n" + data;
    ASSERT_TRUE(Parse(withEnd, type));
    TLineLists whole;
    ASSERT_TRUE(ParseImportBytes(withEnd, type, ',', whole));
    EXPECT_EQ(lists_.aLines, whole.aLines);
    EXPECT_EQ(lists_.aLineNumbers, whole.aLineNumbers);
    EXPECT_EQ(lists_.iValues.Entries(), whole.iValues.Entries());
    EXPECT_EQ(lists_.dLines, whole.dLines);
    EXPECT_EQ(lists_.skips.read, whole.skips.read);
    EXPECT_EQ(lists_.skips.skipped, whole.skips.skipped);
    EXPECT_EQ(lists_.skips.firstLine, whole.skips.firstLine);
    EXPECT_GT(lists_.aLines.size(), 1000u);
    EXPECT_EQ(std::count(lists_.dLines.begin(), lists_.dLines.end(), "after the end"), 0);
  }
}

}  // namespace
}  // namespace tv::testing
