// Whole files encoded per profile: the order and kinds of the steps, the
// worked bytes of each frame, and encodings that do not depend on each
// other.
#include "scale/encodedfile.h"

#include <gtest/gtest.h>

#include "scale/encoder_fixture.h"
#include "scale/worked_record.h"

namespace tv::test {
namespace {

using V = std::vector<uint8_t>;

const std::string& kApple = kWorkedRecordLine;
const std::string& kPear = kKindOneRecordLine;

class EncodedFileTest : public ::testing::Test, public EncoderFixture {
 protected:
  static V FrameOf(const TEncodedFile& f, size_t i) {
    const TDeliveryStep& s = f.steps.at(i);
    return V(f.Frame(s), f.Frame(s) + s.length);
  }
  static std::vector<TStepKind> Kinds(const TEncodedFile& f) {
    std::vector<TStepKind> kinds;
    for (const TDeliveryStep& s : f.steps) kinds.push_back(s.kind);
    return kinds;
  }
  static std::vector<V> Frames(const TEncodedFile& f) {
    std::vector<V> frames;
    for (size_t i = 0; i < f.steps.size(); ++i) frames.push_back(FrameOf(f, i));
    return frames;
  }
};

TEST_F(EncodedFileTest, StepsFollowTheSessionOrderWithTheWorkedBytes) {
  lists.tLines = {";2024;3;5;9;7", ";2025;1;1;0;0"};
  lists.aLines = {kApple, "not a goods line", kPear};
  lists.dLines = {";123", "abc", "77"};
  TEncodedFilePtr file = Encode();
  EXPECT_EQ(Kinds(*file), (std::vector<TStepKind>{TStepKind::Delete, TStepKind::Delete,
                                                   TStepKind::Goods, TStepKind::Goods,
                                                   TStepKind::Clock}));
  EXPECT_EQ(FrameOf(*file, 0), (V{0xF3, 0x25, 0x00, 0x00, 0x01, 0x23}));
  EXPECT_EQ(FrameOf(*file, 1), (V{0xF3, 0x25, 0x00, 0x00, 0x00, 0x77}));
  EXPECT_EQ(FrameOf(*file, 2), kWorkedRecordFrame);
  EXPECT_EQ(FrameOf(*file, 3), kKindOneRecordFrame);
  EXPECT_EQ(FrameOf(*file, 4), kClockFrame20240305At0907);
  // The frames lie one after the other.
  size_t total = 0;
  for (const TDeliveryStep& s : file->steps) {
    EXPECT_EQ(s.offset, total);
    total += s.length;
  }
  EXPECT_EQ(file->bytes.size(), total);
}

TEST_F(EncodedFileTest, CountsTheALinesLeftOutWithTheFirstOnesReason) {
  const std::string noNumber = ";123456789012;000000;x;x;0;0;1.50;5;x;Nothing";
  lists.aLines = {kApple, "not a goods line", kPear, noNumber};
  TEncodedFilePtr file = Encode();
  EXPECT_EQ(file->skippedGoods, 2u);
  EXPECT_EQ(file->firstSkippedGoods, 1u);
  EXPECT_EQ(file->firstSkipReason, "A line whose fields cannot be read: layout 1B: no separator after the goods number field");
  ASSERT_EQ(file->leftOut.size(), 2u);
  EXPECT_EQ(file->leftOut[1].entry, 3u);
  EXPECT_EQ(file->leftOut[1].reason,
            "A line without a goods number from 1 to 999997 or a price the scale can take: goods number \"000000\"");
  // The count changes no frame: the same bytes as the file without them.
  lists.aLines = {kApple, kPear};
  TEncodedFilePtr clean = Encode();
  EXPECT_EQ(clean->skippedGoods, 0u);
  EXPECT_TRUE(clean->firstSkipReason.empty());
  EXPECT_EQ(Frames(*file), Frames(*clean));

  lists.aLines = {kApple, noNumber};
  file = Encode();
  EXPECT_EQ(file->skippedGoods, 1u);
  EXPECT_EQ(file->firstSkippedGoods, 1u);
  EXPECT_NE(file->firstSkipReason.find("without a goods number from 1 to"), std::string::npos)
      << file->firstSkipReason;
}

TEST_F(EncodedFileTest, ClockLinesLeaveTheCurrentTimeToTheSender) {
  for (const char* line : {"", ";now", "no separator"}) {
    lists.tLines = {line};
    TEncodedFilePtr file = Encode();
    ASSERT_EQ(Kinds(*file), std::vector<TStepKind>{TStepKind::CurrentClock}) << line;
    EXPECT_TRUE(file->bytes.empty());
  }
  lists.tLines = {";2024;3"};
  lists.dLines = {"1"};
  EXPECT_EQ(Kinds(*Encode()), (std::vector<TStepKind>{TStepKind::Delete, TStepKind::UnreadableClock}));
  lists.tLines.clear();
  EXPECT_EQ(Kinds(*Encode()), std::vector<TStepKind>{TStepKind::Delete});
}

TEST_F(EncodedFileTest, NothingUsableGivesNoStep) {
  lists.dLines = {"abc", "", ";-4"};
  lists.aLines = {";1;999998;x;x;0;0;1.50;5;x;A", ";1;5;x;x;0;0;0.00;5;x;B", "garbage"};
  EXPECT_TRUE(Encode()->steps.empty());
}

TEST_F(EncodedFileTest, ProfilesChangeOnlyTheirOwnFrames) {
  lists.aLines = {kApple, kPear};
  ScaleArgs longCode;
  longCode.LongBarCode = true;
  TEncodedFilePtr plain = Encode();
  TEncodedFilePtr other = Encode(longCode);
  ASSERT_EQ(plain->steps.size(), 2u);
  ASSERT_EQ(other->steps.size(), 2u);
  EXPECT_EQ(FrameOf(*plain, 0)[25], 0x01);
  EXPECT_EQ(FrameOf(*other, 0)[25], 0x81);
  // Encoding again for the first profile gives the same bytes.
  EXPECT_EQ(Frames(*Encode()), Frames(*plain));

  EXPECT_EQ(Profile(), Profile());
  EXPECT_EQ(TScaleProfileHash()(Profile()), TScaleProfileHash()(Profile()));
  EXPECT_NE(Profile(), Profile(longCode));
  ScaleArgs otherType;
  otherType.ScaleType = TScaleType::SM700;
  EXPECT_NE(Profile(), Profile(otherType));
}

TEST_F(EncodedFileTest, ExtendedTextsNeverLeakFromOneEncodingIntoAnother) {
  settings.ImportType = 2;
  // The first line of Code 7 has no text of its own; the second stores one.
  const std::string bare = ";1;7;;;0;0;1.50;3;;;7;Plum";
  const std::string withText = ";1;7;;;0;0;1.50;3;;;7;Plum;ripe";
  lists.aLines = {bare, withText, bare};
  ScaleArgs bigPlatform;
  bigPlatform.ScaleType = TScaleType::BigPlatform;

  TEncodedFilePtr alone = Encode(bigPlatform);
  TEncodedFilePtr first = Encode();
  TEncodedFilePtr again = Encode(bigPlatform);
  EXPECT_EQ(Frames(*again), Frames(*alone));
  EXPECT_EQ(lists.iValues.Size(), 0u);

  // As a client reading the file alone: no text before the Code stores one,
  // then the stored text for the rest of the file.
  for (const TEncodedFilePtr& f : {alone, first}) {
    ASSERT_EQ(f->steps.size(), 3u);
    EXPECT_EQ(FrameOf(*f, 0)[11], 0x64);
    EXPECT_EQ(FrameOf(*f, 1)[11], 0xE0);
    EXPECT_EQ(FrameOf(*f, 2)[11], 0xE0);
  }
  // An I line for the Code is a text from the start.
  lists.iValues.Set("7", "from the file");
  EXPECT_EQ(FrameOf(*Encode(), 0)[11], 0xE0);
}

TEST_F(EncodedFileTest, AnEncodedFileCanBeReusedForTheNextFile) {
  TEncodedFile file;
  lists.aLines = {kApple, kPear};
  EncodeFile(lists, Profile(), host, file);
  ASSERT_EQ(file.steps.size(), 2u);
  lists.aLines = {kPear};
  EncodeFile(lists, Profile(), host, file);
  ASSERT_EQ(file.steps.size(), 1u);
  EXPECT_EQ(FrameOf(file, 0), kKindOneRecordFrame);
  EXPECT_EQ(file.bytes.size(), file.steps[0].length);
}

}  // namespace
}  // namespace tv::test
