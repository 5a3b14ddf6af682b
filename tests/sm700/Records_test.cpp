#include "sm700/Records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FrameOf(TRecords& r) {
  EXPECT_EQ(r.List().size(), 1u);
  if (r.List().empty()) return {};
  int n = r.FrameRecord(r.List()[0]);
  return Bytes(r.Frame(), r.Frame() + n);
}

Bytes Slice(const Bytes& b, size_t from, size_t count) {
  if (from + count > b.size()) return {};
  return Bytes(b.begin() + from, b.begin() + from + count);
}

Bytes Zeros(size_t n) { return Bytes(n, 0); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const std::string kOvoshchi1251 = "\xCE\xE2\xEE\xF9\xE8";  // Овощи

TEST(KeyLayoutRecords, KeyboardRecordCarriesNumberAndRecodedName) {
  TRecords r;
  r.BuildKeyboardRecord({kOvoshchi1251, 1});
  Bytes frame = FrameOf(r);
  Bytes expected = Concat({{0xF1, 0x41},
                           {0x00, 0x01, 0x00, 0x01, 0x00, 0x55, 0x00, 0x00, 0x00, 0x01, 0x20, 0x01},
                           {0xBE, 0xD2, 0xDE, 0xE9, 0xD8},
                           Zeros(27),
                           Zeros(4),
                           Zeros(32),
                           {0x04, 0x00, 0x00, 0x00, 0x00}});
  ASSERT_EQ(frame.size(), 87u);
  EXPECT_EQ(frame, expected);
  EXPECT_EQ(r.Kind(), kKindKeyboard);
}

TEST(KeyLayoutRecords, KeyRecordNumberedWithinItsKeyboard) {
  TRecords r;
  r.BuildKeyRecord({"\xCC\xEE\xEB\xEE\xEA\xEE", 15, 2, 3, "milk.png"});  // Молоко
  Bytes frame = FrameOf(r);
  ASSERT_EQ(frame.size(), 87u);
  EXPECT_EQ(Slice(frame, 0, 2), (Bytes{0xF1, 0x41}));
  EXPECT_EQ(Slice(frame, 2, 12), (Bytes{0x00, 0x00, 0x10, 0x03, 0x00, 0x55, 0x00, 0x00, 0x00, 0x15, 0x00, 0x01}));
  EXPECT_EQ(Slice(frame, 14, 7), (Bytes{0xBC, 0xDE, 0xDB, 0xDE, 0xDA, 0xDE, 0x00}));
  EXPECT_EQ(frame[2 + 80], 0x00);  // third flag of a key record
  EXPECT_EQ(r.Kind(), kKindKey);
}

TEST(KeyLayoutRecords, LongTextIsCutToThirtyTwoBytes) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += static_cast<char>('A' + i % 26);
  TRecords r;
  r.BuildKeyRecord({text, 1, 1, 1, "a.png"});
  Bytes frame = FrameOf(r);
  ASSERT_EQ(frame.size(), 87u);
  Bytes expectedName(text.begin(), text.begin() + 32);
  EXPECT_EQ(Slice(frame, 14, 32), expectedName);
  EXPECT_EQ(Slice(frame, 46, 36), Zeros(36));  // two words, empty second text
  r.BuildKeyboardRecord({text, 7});
  EXPECT_EQ(FrameOf(r).size(), 87u);
}

TEST(KeyLayoutRecords, NumbersThatDoNotFitTheirFieldsBuildNothing) {
  TRecords r;
  r.BuildKeyRecord({"x", 100000000, 1, 1, "a.png"});
  EXPECT_TRUE(r.List().empty());
  r.BuildKeyRecord({"x", -1, 1, 1, "a.png"});
  EXPECT_TRUE(r.List().empty());
  r.BuildKeyRecord({"x", 1, 0, 1, "a.png"});  // keyboard 0 gives a negative record number
  EXPECT_TRUE(r.List().empty());
  r.BuildKeyRecord({"x", 99999999, 1, 1, "a.png"});
  EXPECT_EQ(r.List().size(), 1u);
}

TEST(ImageRecords, ImageRecordIs242BytesWithKeyIndexAndImageNumber) {
  SetImageNumber(1234);
  TRecords r;
  r.BuildImageRecord({"x", 42, 1, 1, "a.png"});
  Bytes frame = FrameOf(r);
  ASSERT_EQ(frame.size(), 244u);
  EXPECT_EQ(Slice(frame, 0, 10), (Bytes{0xF1, 0xA5, 0x00, 0x00, 0x00, 0x42, 0x00, 0xF2, 0x12, 0x34}));
  EXPECT_EQ(Slice(frame, 10, 234), Zeros(234));
  EXPECT_EQ(r.Kind(), kKindImage);
}

TEST(ImageRecords, PathRecordForEightCharacterName) {
  SetImageNumber(101);
  TRecords r;
  r.BuildImagePathRecord({"x", 1, 1, 1, "abcd.png"});
  Bytes frame = FrameOf(r);
  std::string path = "/opt/pcscale/files/img/plu/abcd.png";
  ASSERT_EQ(path.size(), 35u);
  Bytes expected = Concat({{0xF1, 0x37, 0x00, 0x00, 0x01, 0x01, 0x00, 0x2A, 0x00}, Bytes(path.begin(), path.end())});
  EXPECT_EQ(frame, expected);
  EXPECT_EQ(frame.size(), 44u);
  EXPECT_EQ(r.Kind(), kKindImagePath);
}

TEST(ImageRecords, PathKeepsBackslashAndRecodesCyrillic) {
  SetImageNumber(101);
  TRecords r;
  r.BuildImagePathRecord({"x", 1, 1, 1, "a\\\xC0.png"});  // a\А.png
  Bytes frame = FrameOf(r);
  ASSERT_EQ(frame.size(), 9u + 27 + 7);
  EXPECT_EQ(frame[7], 27 + 7 + 7);
  EXPECT_EQ(Slice(frame, 9 + 27, 3), (Bytes{'a', '\\', 0xB0}));
}

TEST(ImageNumber, SkipsTwoHundredFiftyFiveAndWrapsBeforeTenThousand) {
  SetImageNumber(100);
  EXPECT_EQ(NextImageNumber(), 101);
  EXPECT_EQ(CurrentImageNumber(), 101);
  SetImageNumber(253);
  EXPECT_EQ(NextImageNumber(), 254);
  EXPECT_EQ(NextImageNumber(), 256);
  SetImageNumber(9997);
  EXPECT_EQ(NextImageNumber(), 9998);
  EXPECT_EQ(NextImageNumber(), 101);
  SetImageNumber(50);
  EXPECT_EQ(NextImageNumber(), 52);  // at or below 100 it steps twice
}

TEST(Framing, KindWithoutCommandByteFails) {
  TRecords r;
  r.BuildKeyboardRecord({"A", 1});
  r.SetKind(9);
  EXPECT_EQ(r.FrameRecord(r.List()[0]), 0);
  r.SetKind(255);
  EXPECT_EQ(r.FrameRecord(r.List()[0]), 0);
}

TEST(Framing, CommandBytesOfRecordKinds) {
  const uint8_t expected[] = {0x41, 0x41, 0xA5, 0x41, 0x23, 0x20, 0x37, 0x37, 0x37};
  TRecords r;
  for (uint8_t kind = 0; kind < 9; ++kind) {
    r.SetKind(kind);
    ASSERT_EQ(r.FrameRecord("000000000001AB"), 3) << int(kind);
    EXPECT_EQ(r.Frame()[1], expected[kind]) << int(kind);
    EXPECT_EQ(r.Frame()[0], 0xF1);
  }
}

TEST(Framing, DeclaredLengthBeyondTheBufferFails) {
  TRecords r;
  r.SetKind(kKindImagePath);
  EXPECT_EQ(r.FrameRecord("000000002803"), 0);           // 0x2803 = 10243
  EXPECT_EQ(r.FrameRecord("00000000FFFF"), 0);
  EXPECT_EQ(r.FrameRecord("000000002802"), 10244);       // 10242 just fits
}

TEST(Framing, MissingDigitsReadAsZeroBytes) {
  TRecords r;
  r.SetKind(kKindKey);
  ASSERT_EQ(r.FrameRecord("11223344000AFF"), 12);
  EXPECT_EQ(Bytes(r.Frame(), r.Frame() + 12), (Bytes{0xF1, 0x41, 0x11, 0x22, 0x33, 0x44, 0x00, 0x0A, 0xFF, 0, 0, 0}));
  EXPECT_EQ(r.FrameRecord("12"), 2);  // no length digits at all
}

}  // namespace
}  // namespace tv
