#include "paramserver/paramblock.h"

#include <gtest/gtest.h>

#include "paramtestkit.h"

namespace tv {
namespace {

using test::BlockBuilder;

TEST(ParamBlockTest, DecodesEveryFieldAtItsOffset) {
  const std::vector<uint8_t> bytes = {
      0xAA, 0xBB, 0x2C, 0x01, 5, 17, 58, 3, 4, 9, 192, 168, 0, 7, 0, 1,  // header
      2, 91, 92, 3, 4,                                                  // N, scales, types
      'E', 3, 3, '*', '.', '*', 3, '2', '2', 3,                          // strings, LogoDir empty
      13, 14, 0, 1, 1, 0, 4};
  TParamBlock b;
  ASSERT_TRUE(DecodeBlock(bytes.data(), bytes.size(), b));
  EXPECT_EQ(b.VerInterval, 300);
  EXPECT_EQ(b.BarcodeFormat, 5);
  EXPECT_EQ(b.LFormat, 17);
  EXPECT_EQ(b.LabelWidth, 58);
  EXPECT_EQ(b.INGRFontSize, 3);
  EXPECT_EQ(b.SMessFontSize, 4);
  EXPECT_EQ(b.m_iNameAlgorithm, 1);
  EXPECT_EQ(b.IPAdress, "192.168.0.");
  EXPECT_EQ(b.TextToOEM, 7);
  EXPECT_EQ(b.LongBarCode, 0);
  EXPECT_EQ(b.ImportType, 1);
  EXPECT_EQ(b.TotalNumber, 2);
  EXPECT_EQ(b.ExportDir, "E");
  EXPECT_EQ(b.LogoDir, "");
  EXPECT_EQ(b.FileMask, "*.*");
  EXPECT_EQ(b.BarPrefix, "22");
  EXPECT_EQ(b.ScaleNumbers, (std::vector<uint8_t>{91, 92}));
  EXPECT_EQ(b.DeviceTypes, (std::vector<uint8_t>{3, 4}));
  EXPECT_EQ(b.BarcodeTypes, (std::vector<uint8_t>{13, 14}));
  EXPECT_EQ(b.UseByInDays, (std::vector<uint8_t>{0, 1}));
  EXPECT_EQ(b.ConstBC, (std::vector<uint8_t>{1, 0}));
}

TEST(ParamBlockTest, RefusesBlocksThatCannotHoldTheirParts) {
  TParamBlock b;
  auto full = BlockBuilder().Bytes();
  EXPECT_FALSE(DecodeBlock(full.data(), 16, b));  // header cut
  EXPECT_FALSE(DecodeBlock(full.data(), 19, b));  // tables cut
  BlockBuilder threeStrings;
  threeStrings.strings[3] = "";
  auto bytes = threeStrings.Bytes();
  for (size_t etx = 0, i = 21; i < bytes.size(); ++i)
    if (bytes[i] == kETX && ++etx == 4) {
      bytes.resize(i);  // drop the fourth ETX and everything after it
      break;
    }
  EXPECT_FALSE(DecodeBlock(bytes.data(), bytes.size(), b));

  BlockBuilder limit;  // text part of exactly kMaxTextPart bytes
  limit.strings[0].clear();
  const size_t rest = limit.Bytes().size() - (17 + 4);
  limit.strings[0].assign(kMaxTextPart - rest, 'x');
  auto atLimit = limit.Bytes();
  ASSERT_EQ(atLimit.size(), 17 + 4 + kMaxTextPart);
  EXPECT_TRUE(DecodeBlock(atLimit.data(), atLimit.size(), b));
  limit.strings[0] += 'x';
  auto over = limit.Bytes();
  EXPECT_FALSE(DecodeBlock(over.data(), over.size(), b));
}

TEST(ParamBlockTest, SegmentsCountOnlyAsTheWholeBlock) {
  auto full = BlockBuilder().Bytes();
  for (size_t len = 1; len < full.size(); ++len)
    EXPECT_EQ(AssessReceivedBlock(full.data(), len, false), TBlockStatus::Incomplete) << len;
  EXPECT_EQ(AssessReceivedBlock(full.data(), full.size(), false), TBlockStatus::Complete);
  EXPECT_EQ(FullBlockLength(full.data(), full.size()), full.size());

  full.push_back(kEOT);  // one byte past the end
  EXPECT_EQ(AssessReceivedBlock(full.data(), full.size(), false), TBlockStatus::Invalid);
  full.pop_back();
  full.back() = 0;  // whole length, no EOT
  EXPECT_EQ(AssessReceivedBlock(full.data(), full.size(), true), TBlockStatus::Invalid);

  BlockBuilder shortForm;
  shortForm.barcodes = shortForm.useBy = shortForm.constBc = {};
  auto bytes = shortForm.Bytes();
  EXPECT_EQ(AssessReceivedBlock(bytes.data(), bytes.size(), true), TBlockStatus::Complete);
  EXPECT_EQ(AssessReceivedBlock(bytes.data(), bytes.size(), false), TBlockStatus::Incomplete);

  BlockBuilder huge;
  huge.strings[0].assign(kMaxTextPart, 'x');
  bytes = huge.Bytes();
  EXPECT_EQ(AssessReceivedBlock(bytes.data(), 17 + 4 + kMaxTextPart + 1, false),
            TBlockStatus::Invalid);
}

}  // namespace
}  // namespace tv
