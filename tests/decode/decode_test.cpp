#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "decode/decode.h"

namespace tv::decode {
namespace {

using Bytes = std::vector<uint8_t>;

void Append(Bytes& b, std::initializer_list<uint8_t> more) { b.insert(b.end(), more); }
void Append(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

bool Has(const std::string& json, const std::string& part) {
  return json.find(part) != std::string::npos;
}

// Goods 000123 at 1.50, barcode 123456789012, label format 17, barcode type
// 5, shelf life 5 days, no ingredient text: a one-line name and the
// single-space message block.
Bytes WorkedExampleFrame(const std::string& nameBytes) {
  Bytes f = {0xF1, 0x25, 0x00, 0x00, 0x01, 0x23, 0x00, 0x00};
  Append(f, {0x54, 0x00, 0x0D, 0x64, 0x11, 0x00, 0x00, 0x01, 0x50, 0x11, 0x05});
  Append(f, {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x01});
  Append(f, {0x00, 0x05, 0x00, 0x00, 0x01});
  Append(f, {0x09, static_cast<uint8_t>(nameBytes.size())});
  Append(f, nameBytes);
  Append(f, {0x0C, 0x04, 0x01, 0x20, 0x0C, 0x00});
  size_t length = f.size() - 2;
  f[6] = static_cast<uint8_t>(length >> 8);
  f[7] = static_cast<uint8_t>(length);
  return f;
}

const std::string kMilkCp866 = "\x8C\xAE\xAB\xAE\xAA\xAE";  // Молоко
const std::string kMilkIso = "\xBC\xDE\xDB\xDE\xDA\xDE";

TEST(DecodeGoodsFrame, WorkedExampleRecord) {
  Bytes f = WorkedExampleFrame(kMilkCp866);
  std::string j = DecodeGoodsFrame(f.data(), f.size());
  EXPECT_TRUE(Has(j, "\"kind\":\"goods\",\"goods\":123,\"length\":43,")) << j;
  EXPECT_TRUE(Has(j, "\"flags\":[\"54\",\"00\",\"0D\",\"64\",\"11\"]")) << j;
  EXPECT_TRUE(Has(j, "\"priceDigits\":\"00000150\",\"price\":\"1.50\"")) << j;
  EXPECT_TRUE(Has(j, "\"labelFormat\":17,\"barcodeType\":5,\"barcode\":\"12345678901201\"")) << j;
  EXPECT_TRUE(Has(j, "\"shelfLifeA\":5,\"zeroValue\":0,\"noTextValue\":1,")) << j;
  EXPECT_FALSE(Has(j, "shelfLifeB")) << j;
  EXPECT_TRUE(Has(j, "\"name\":[{\"font\":9,\"length\":6,\"text\":\"Молоко\","
                     "\"hex\":\"8CAEABAEAAAE\",\"end\":\"FF\"}]")) << j;
  EXPECT_FALSE(Has(j, "ingredients")) << j;
  EXPECT_TRUE(Has(j, "\"message\":[{\"font\":4,\"length\":1,\"text\":\" \"")) << j;
  EXPECT_TRUE(Has(j, "\"endByte\":0,\"consistent\":true")) << j;
  EXPECT_FALSE(Has(j, "error")) << j;
}

TEST(DecodeGoodsFrame, TextCodePages) {
  Bytes iso = WorkedExampleFrame(kMilkIso);
  EXPECT_TRUE(Has(DecodeGoodsFrame(iso.data(), iso.size(), TextCodePage::Iso88595), "Молоко"));
  Bytes win = WorkedExampleFrame("\xCC\xEE\xEB\xEE\xEA\xEE");
  EXPECT_TRUE(Has(DecodeGoodsFrame(win.data(), win.size(), TextCodePage::Win1251), "Молоко"));
}

TEST(DecodeGoodsFrame, MultiLineBlocksAndLengthOnlyBits) {
  Bytes f = {0xF1, 0x25, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00};
  // Flag3 bit 5 set: 4 bytes counted but never written; Flag4 name + ingredients.
  Append(f, {0x54, 0x00, 0x2D, 0xA0, 0x10, 0x00, 0x00, 0x12, 0x34, 0x01, 0x02});
  Append(f, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});  // barcode, zero value
  Append(f, {0x05, 0x02, 'A', 'B', 0x0D, 0x05, 0x02, 'C', 'D', 0x0C});
  Append(f, {0x03, 0x01, 'x', 0x0C, 0x00});
  size_t length = f.size() - 2 + 4;
  f[6] = 0;
  f[7] = static_cast<uint8_t>(length);
  Bytes padded = f;
  padded.insert(padded.end() - 1, 4, 0x00);  // room of the length-only bits before the end byte
  std::string j = DecodeGoodsFrame(padded.data(), padded.size());
  EXPECT_TRUE(Has(j, "\"price\":\"12.34\"")) << j;
  EXPECT_TRUE(Has(j, "\"text\":\"AB\",\"hex\":\"4142\",\"end\":\"CR\"},{\"font\":5")) << j;
  EXPECT_TRUE(Has(j, "\"ingredients\":[{\"font\":3,\"length\":1,\"text\":\"x\"")) << j;
  EXPECT_TRUE(Has(j, "\"lengthOnlyBytes\":4,\"endByte\":0,\"consistent\":true")) << j;
  // Without the room the length field claims 4 bytes the frame lacks.
  std::string short_ = DecodeGoodsFrame(f.data(), f.size());
  EXPECT_TRUE(Has(short_, "\"missingBytes\":4")) << short_;
  EXPECT_TRUE(Has(short_, "\"consistent\":false")) << short_;
}

TEST(DecodeGoodsFrame, DeleteAndClock) {
  Bytes del = {0xF3, 0x25, 0x00, 0x99, 0x99, 0x97};
  EXPECT_TRUE(Has(DecodeGoodsFrame(del.data(), del.size()), "\"kind\":\"delete\",\"goods\":999997,"));
  Bytes clock = {0xF1, 0x4E, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x05, 0x03, 0x24, 0x00, 0x00, 0x09, 0x07};
  std::string j = DecodeGoodsFrame(clock.data(), clock.size());
  EXPECT_TRUE(Has(j, "\"day\":5,\"month\":3,\"year\":24,\"hour\":9,\"minute\":7,"
                     "\"date\":\"05.03.24\",\"time\":\"09:07\",\"fixedBytesOk\":true")) << j;
  clock[5] = 0x00;
  EXPECT_TRUE(Has(DecodeGoodsFrame(clock.data(), clock.size()), "\"fixedBytesOk\":false"));
  Bytes badBcd = {0xF3, 0x25, 0x00, 0x00, 0x0A, 0x23};
  EXPECT_TRUE(Has(DecodeGoodsFrame(badBcd.data(), badBcd.size()), "\"goods\":\"00000A23\""));
}

// Keyboard 1 named Овощи (ISO 8859-5 BE D2 DE E9 D8).
Bytes KeyboardFrame() {
  Bytes f = {0xF1, 0x41, 0x00, 0x01, 0x00, 0x01, 0x00, 0x55, 0x00, 0x00, 0x00, 0x01, 0x20, 0x01};
  Bytes name(32, 0);
  const uint8_t kName[] = {0xBE, 0xD2, 0xDE, 0xE9, 0xD8};
  std::copy(std::begin(kName), std::end(kName), name.begin());
  f.insert(f.end(), name.begin(), name.end());
  f.insert(f.end(), 4 + 32, 0x00);
  Append(f, {0x04, 0x00, 0x00, 0x00, 0x00});
  return f;
}

TEST(DecodeSm700Frame, KeyboardKeyPathAndImage) {
  Bytes kb = KeyboardFrame();
  ASSERT_EQ(kb.size(), 87u);
  std::string j = DecodeSm700Frame(kb.data(), kb.size());
  EXPECT_TRUE(Has(j, "\"kind\":\"keyboard\",\"record\":10001,\"length\":85,\"keyboard\":1,")) << j;
  EXPECT_TRUE(Has(j, "\"flags\":[\"20\",\"01\",\"04\"],\"text\":\"Овощи\",\"textHex\":\"BED2DEE9D8\"")) << j;

  Bytes key = kb;
  key[2] = 0x00, key[3] = 0x00, key[4] = 0x10, key[5] = 0x03;  // keyboard 2, key 3
  key[11] = 0x15, key[12] = 0x00, key[82] = 0x00;
  j = DecodeSm700Frame(key.data(), key.size());
  EXPECT_TRUE(Has(j, "\"kind\":\"key\",\"record\":1003,\"length\":85,\"keyIndex\":15,")) << j;

  std::string path = "/opt/pcscale/files/img/plu/abcd.bmp";
  Bytes p = {0xF1, 0x37, 0x00, 0x00, 0x01, 0x01, 0x00, 0x2A, 0x00};
  Append(p, path);
  j = DecodeSm700Frame(p.data(), p.size());
  EXPECT_TRUE(Has(j, "\"kind\":\"imagePath\",\"image\":101,\"length\":42,\"byte6\":\"00\",\"path\":\"" +
                         path + "\"")) << j;

  Bytes img(244, 0);
  img[0] = 0xF1, img[1] = 0xA5, img[5] = 0x15, img[6] = 0x00, img[7] = 0xF2, img[8] = 0x01, img[9] = 0x01;
  j = DecodeSm700Frame(img.data(), img.size());
  EXPECT_TRUE(Has(j, "\"kind\":\"image\",\"keyIndex\":15,\"length\":242,\"image\":101,\"zeroFilled\":true")) << j;
}

// Truncations of every valid frame and random bytes behind valid heads
// must give a line with an error, never a read past the end.
TEST(DecodeFrames, MalformedInputNeverCrashes) {
  std::vector<Bytes> valid = {WorkedExampleFrame(kMilkCp866), KeyboardFrame(),
                              {0xF3, 0x25, 0x00, 0x00, 0x01, 0x23}};
  for (const Bytes& f : valid) {
    for (size_t n = 0; n < f.size(); ++n) {
      Bytes cut(f.begin(), f.begin() + static_cast<long>(n));
      EXPECT_FALSE(DecodeGoodsFrame(cut.data(), cut.size()).empty());
      EXPECT_TRUE(Has(DecodeSm700Frame(cut.data(), cut.size()), "error"));
    }
  }
  Bytes truncatedGoods = WorkedExampleFrame(kMilkCp866);
  truncatedGoods.resize(30);
  EXPECT_TRUE(Has(DecodeGoodsFrame(truncatedGoods.data(), truncatedGoods.size()), "\"error\""));

  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    Bytes f(rng() % 120);
    for (auto& b : f) b = static_cast<uint8_t>(rng());
    if (f.size() >= 2) f[0] = 0xF1, f[1] = (i % 2) ? 0x25 : 0x41;
    if (f.size() >= 8) f[6] = 0, f[7] = static_cast<uint8_t>(rng() % 140);
    if (f.size() >= 12) f[11] |= 0xE0;  // text blocks on
    EXPECT_FALSE(DecodeGoodsFrame(f.data(), f.size()).empty());
    EXPECT_FALSE(DecodeSm700Frame(f.data(), f.size()).empty());
  }
}

// The listed fields lie one after the other and cover every byte once.
void ExpectTiled(const TFrameFields& fields, size_t frameLength) {
  size_t next = 0;
  for (const TFrameField& f : fields) {
    EXPECT_EQ(f.offset, next) << f.name;
    next = f.offset + f.size;
  }
  EXPECT_EQ(next, frameLength);
}

const TFrameField* Named(const TFrameFields& fields, const std::string& name) {
  for (const TFrameField& f : fields)
    if (f.name == name) return &f;
  return nullptr;
}

TEST(DecodeFields, GoodsDeleteClockAndKeyRecordFieldsCoverTheirFrames) {
  Bytes goods = WorkedExampleFrame(kMilkCp866);
  TFrameFields fields;
  const std::string json = DecodeGoodsFrame(goods.data(), goods.size(), TextCodePage::Cp866, &fields);
  EXPECT_EQ(json, DecodeGoodsFrame(goods.data(), goods.size())) << "listing fields changes no JSON";
  ExpectTiled(fields, goods.size());
  ASSERT_NE(Named(fields, "price"), nullptr);
  EXPECT_EQ(Named(fields, "price")->value, "1.50");
  EXPECT_EQ(Named(fields, "price")->offset, 13u);
  ASSERT_NE(Named(fields, "name line, font 9"), nullptr);
  EXPECT_EQ(Named(fields, "name line, font 9")->value, "\"Молоко\" FF");

  const Bytes del = {0xF3, 0x25, 0x00, 0x00, 0x01, 0x23};
  fields.clear();
  DecodeGoodsFrame(del.data(), del.size(), TextCodePage::Cp866, &fields);
  ExpectTiled(fields, del.size());
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[1].value, "123");

  const Bytes clock = {0xF1, 0x4E, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x05, 0x03, 0x24, 0x00, 0x00, 0x09, 0x07};
  fields.clear();
  DecodeGoodsFrame(clock.data(), clock.size(), TextCodePage::Cp866, &fields);
  ExpectTiled(fields, clock.size());
  ASSERT_NE(Named(fields, "time (hour, minute)"), nullptr);
  EXPECT_EQ(Named(fields, "time (hour, minute)")->value, "09:07");

  Bytes key = {0xF1, 0x41, 0x00, 0x00, 0x10, 0x03, 0x00, 0x55, 0x00, 0x00, 0x00, 0x15, 0x00, 0x01};
  key.resize(87, 0);
  key[14] = 'P';
  fields.clear();
  DecodeSm700Frame(key.data(), key.size(), &fields);
  ExpectTiled(fields, key.size());
  ASSERT_NE(Named(fields, "key text"), nullptr);
  EXPECT_EQ(Named(fields, "key text")->value, "\"P\"");
  EXPECT_EQ(Named(fields, "record number")->value, "1003");
}

}  // namespace
}  // namespace tv::decode
