// Goods record encoding: field derivation, flag bytes, length rule, the
// record's bytes and the goods frame around them.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "scale/goodsencoder.h"
#include "scale/fieldtext.h"
#include "scale/goodsencoder.h"

namespace tv {
namespace {

using namespace goods;

constexpr int32_t kFixedRecordBytes = 25;  // offsets 0 to 23 and EndByte
constexpr int32_t kMaxGoodsNumber = 999997;
constexpr int64_t kPriceScale = 10000;
constexpr int64_t kMaxPriceCents = 99999999;  // eight digits, two of them decimals
constexpr size_t kBarcodeDigits = 14;
constexpr size_t kBarcodePadTo = 12;
constexpr uint8_t kConstBarcodeType = 8;
constexpr int32_t kLastLabelFormat = 99;

bool Bit(uint8_t flags, int bit) { return (flags >> bit & 1) != 0; }

void SetBit(uint8_t& flags, int bit, bool on) {
  if (on) {
    flags = static_cast<uint8_t>(flags | 1u << bit);
  } else {
    flags = static_cast<uint8_t>(flags & ~(1u << bit));
  }
}

// A one-character flag field reads as its digit; anything else reads as 0.
int FlagDigit(char c) { return c >= '0' && c <= '9' ? c - '0' : 0; }

// The length rule without text lines.  Four bits count although nothing is
// ever written for them; this system never sets them.
int32_t BaseRecordLength(const TGoodsRecord& r) {
  int32_t n = kFixedRecordBytes;
  if (Bit(r.Flag3, 4)) n += 2;
  for (int bit = 0; bit <= 4; ++bit) {
    if (Bit(r.Flag5, bit)) n += 2;
  }
  if (Bit(r.Flag3, 6)) n += 2;
  if (Bit(r.Flag3, 7)) n += 2;
  for (int bit = 0; bit <= 2; ++bit) {
    if (Bit(r.Flag4, bit)) n += 1;
  }
  if (Bit(r.Flag5, 5)) n += 1;
  if (Bit(r.Flag3, 5)) n += 4;
  if (Bit(r.Flag3, 1)) n += 1;
  if (Bit(r.Flag4, 4)) n += 80;
  if (Bit(r.Flag5, 7)) n += 2;
  return n;
}

// A non-negative price x 10000 in whole hundredths, half away from zero.
int64_t PriceCents(int64_t price) { return (price + kPriceScale / 200) / (kPriceScale / 100); }

}  // namespace

TGoodsEncoder::TGoodsEncoder(const TScaleProfile& profile_, const TValueTable& texts_,
                             const platform::Regional& host_, const platform::Clock* clock_)
    : profile(profile_),
      nameAlgorithm(profile_.NameAlgorithm),
      longBarCode(profile_.LongBarCode),
      textToOEM(profile_.TextToOEM),
      scaleType(profile_.ScaleType),
      barPrefix(profile_.BarPrefix),
      labelWidth(profile_.LabelWidth),
      ingredientFont(profile_.IngredientFont),
      messageFont(profile_.MessageFont),
      barcodeType(profile_.BarcodeType),
      labelFormat(profile_.LabelFormat),
      listSeparator(profile_.ListSeparator != 0 ? profile_.ListSeparator : host_.listSeparator),
      decimalSeparator(profile_.DecimalSeparator != 0 ? profile_.DecimalSeparator
                                                      : host_.decimalSeparator),
      useByInDays(profile_.UseByInDays),
      constBarcode(profile_.ConstBarcode),
      texts(texts_),
      host(host_),
      clock(clock_ ? *clock_ : platform::SystemClock()),
      frameBuffer(std::make_unique<std::array<uint8_t, kFrameBufferSize>>()) {
  record.BarcodeDigits.reserve(16);
}

bool TGoodsEncoder::PrepareGoodsRecord(const std::string& entry) {
  encodedLength = 0;
  lastUnencodable = false;
  lastSkipReason.clear();
  if (!ParseGoodsLine(entry)) {
    lastSkipReason = "A line whose fields cannot be read";
    return false;
  }
  if (!DeriveGoodsFields()) {
    lastSkipReason = "A line without a goods number from 1 to " + std::to_string(kMaxGoodsNumber) +
                     " or a price the scale can take";
    return false;
  }
  bool ingredientTextFound = LoadIngredientText(importRecord.Code);
  SplitMessageLines();
  ApplyFlagChanges(ingredientTextFound);
  if (!EncodeGoodsRecord()) {
    resultCode = kResultEncodeFailed;
    lastUnencodable = true;
    lastSkipReason = "goods record that cannot be encoded";
    return false;
  }
  return true;
}

bool TGoodsEncoder::DeriveGoodsFields() {
  TGoodsRecord& r = record;
  const TImportRecord& in = importRecord;
  r.Flag1 = kFlag1Default;
  r.Flag2 = kFlag2Default;
  r.Flag3 = kFlag3Default;
  r.Flag4 = kFlag4Default;
  r.Flag5 = kFlag5Default;
  r.RecordLength = BaseRecordLength(r);

  r.GoodsNumber = DecimalIntOrZero(StripLeadingZeros(in.Code));
  if (r.GoodsNumber < 1 || r.GoodsNumber > kMaxGoodsNumber) return false;

  // The price is read with the host's decimal separator; a price that the
  // eight-digit field cannot carry yields no record rather than a wrong one.
  char priceText[16];
  std::string_view digits = StripLeadingZeros(in.Price);
  if (digits.size() >= sizeof(priceText)) return false;
  digits.copy(priceText, digits.size());
  std::string_view price(priceText, digits.size());
  size_t dot = price.find('.');
  if (dot != std::string_view::npos) priceText[dot] = host.decimalSeparator;
  double value = 0;
  if (!ParseDecimalNumber(price, host.decimalSeparator, value) || !(std::fabs(value) < 1e12)) {
    return false;
  }
  r.Price = std::llround(value * kPriceScale);
  if (r.Price <= 0) return false;
  const int64_t cents = PriceCents(r.Price);
  if (cents == 0 || cents > kMaxPriceCents) return false;

  DeriveBarcode();
  if (in.Extended) {
    r.LabelFormat = static_cast<uint8_t>(in.LabelFormat);
  } else if (FlagDigit(in.AltLabelFlag) == 1) {
    r.LabelFormat = static_cast<uint8_t>(labelFormat < kLastLabelFormat ? labelFormat + 1 : labelFormat);
  } else {
    r.LabelFormat = static_cast<uint8_t>(labelFormat);
  }
  DeriveShelfLife();

  r.CountValue = 1;
  r.ZeroValue = 0;
  r.NoTextValue = 1;
  r.EndByte = 0;
  SplitName(in.Name, labelWidth, nameSplit);
  r.nameLines[0].text = nameSplit.line1;
  r.nameLines[0].font = nameSplit.font1;
  r.nameLines[1].text = nameSplit.line2;
  r.nameLines[1].font = nameSplit.font2;
  for (int i = 2; i < kNameLineCount; ++i) {
    r.nameLines[i].text.clear();
    r.nameLines[i].font = 0;
  }
  return true;
}

void TGoodsEncoder::DeriveBarcode() {
  TGoodsRecord& r = record;
  const TImportRecord& in = importRecord;
  std::string& d = r.BarcodeDigits;
  const int kind = FlagDigit(in.KindFlag);
  if (constBarcode && kind == 1) {
    r.BarcodeType = kConstBarcodeType;
    d.assign(in.Barcode, 0, kBarcodePadTo);
    d.resize(kBarcodePadTo, '0');
    d.append("02");
    return;
  }
  r.BarcodeType = static_cast<uint8_t>(barcodeType);
  if (scaleType == TScaleType::BigPlatform) {
    d.assign(barPrefix, 0, kBarcodeDigits);
    if (in.Barcode.size() > 2) d.append(in.Barcode, 2, std::string::npos);
  } else {
    d.assign(in.Barcode);
  }
  if (d.size() > kBarcodeDigits) d.resize(kBarcodeDigits);
  if (d.size() < kBarcodePadTo) d.resize(kBarcodePadTo, '0');
  const char* suffix = longBarCode ? (kind == 0 ? "81" : "82") : (kind == 0 ? "01" : "02");
  d.append(suffix, kBarcodeDigits - d.size());
}

void TGoodsEncoder::DeriveShelfLife() {
  TGoodsRecord& r = record;
  const TImportRecord& in = importRecord;
  // A negative day count is no day count.
  const int32_t days = std::max(0, DecimalIntOrZero(in.ShelfLife));
  r.ShelfLifeA = r.ShelfLifeB = r.ShelfLifeC = 0;
  if (in.Extended) {
    r.ShelfLifeC = days;
    r.ShelfLifeA = 2;
  } else if (in.UseByFlag == "0" || (in.UseByFlag != "1" && !useByInDays)) {
    r.ShelfLifeA = days;
  } else {
    r.ShelfLifeB = days;
  }
}

void TGoodsEncoder::ApplyFlagChanges(bool ingredientTextFound) {
  TGoodsRecord& r = record;
  const bool kindOne = FlagDigit(importRecord.KindFlag) == 1;
  SetBit(r.Flag1, 0, kindOne);
  SetBit(r.Flag1, 2, r.ShelfLifeA != 0);
  SetBit(r.Flag1, 5, r.ShelfLifeA == 0);
  if (r.ShelfLifeC != 0) SetBit(r.Flag1, 3, true);
  SetBit(r.Flag2, 1, FlagDigit(importRecord.AltLabelFlag) == 1);
  SetBit(r.Flag3, 7, kindOne);
  if (!ingredientTextFound) r.Flag4 ^= kFlag4NoIngredients;
  SetBit(r.Flag5, 0, r.ShelfLifeA != 0);
  SetBit(r.Flag5, 1, r.ShelfLifeA == 0);
  if (r.ShelfLifeC != 0) {
    SetBit(r.Flag5, 0, true);
    SetBit(r.Flag5, 2, true);
  }
  r.RecordLength = BaseRecordLength(r);
}

bool TGoodsEncoder::EncodeGoodsRecord() {
  TGoodsRecord& r = record;
  encodedLength = 0;
  r.RecordLength = BaseRecordLength(r) + PrepareTextBlocks();
  if (r.RecordLength > 0xFFFF) return false;
  // The record goes straight behind the two frame bytes.
  TRecordWriter out(frameBuffer->data() + 2, frameBuffer->size() - 2);
  out.Bcd(r.GoodsNumber, 8);
  out.Byte(static_cast<uint8_t>(r.RecordLength >> 8));
  out.Byte(static_cast<uint8_t>(r.RecordLength));
  for (uint8_t flag : {r.Flag1, r.Flag2, r.Flag3, r.Flag4, r.Flag5}) out.Byte(flag);
  out.HexText(EncodePrice(r.Price, 4));
  out.Byte(r.LabelFormat);
  out.Byte(r.BarcodeType);
  if (r.BarcodeDigits.size() != kBarcodeDigits) return false;
  out.HexText(r.BarcodeDigits);
  WriteOptionalFields(out);
  WriteTextBlocks(out);
  out.Bcd(r.EndByte, 2);
  if (!out.Ok() || out.Size() != static_cast<size_t>(r.RecordLength)) return false;
  encodedLength = out.Size();
  return true;
}

void TGoodsEncoder::WriteOptionalFields(TRecordWriter& out) const {
  const TGoodsRecord& r = record;
  if (Bit(r.Flag3, 4)) out.Bcd(0, 4);
  if (Bit(r.Flag5, 0)) out.Bcd(r.ShelfLifeA, 4);
  if (Bit(r.Flag5, 1)) out.Bcd(r.ShelfLifeB, 4);
  if (Bit(r.Flag5, 2)) out.Bcd(r.ShelfLifeC, 4);
  if (Bit(r.Flag5, 3)) out.Bcd(0, 4);
  if (Bit(r.Flag5, 4)) out.Bcd(r.ZeroValue, 4);
  if (Bit(r.Flag3, 6)) out.Bcd(0, 4);
  if (Bit(r.Flag3, 7)) out.Bcd(r.CountValue, 4);
  if (Bit(r.Flag4, 0)) out.Bcd(0, 2);
  if (Bit(r.Flag4, 1)) out.Bcd(0, 2);
  if (Bit(r.Flag4, 2)) out.Bcd(r.NoTextValue, 2);
  if (Bit(r.Flag5, 5)) out.Bcd(0, 2);
}

size_t TGoodsEncoder::FrameGoodsRecord() {
  if (encodedLength == 0) return 0;
  std::array<uint8_t, kFrameBufferSize>& frame = *frameBuffer;
  const size_t length = size_t{frame[6]} << 8 | frame[7];
  if (length != encodedLength || length + 2 > frame.size()) return 0;
  frame[0] = kRecordFrame;
  frame[1] = kGoodsCommand;
  return length + 2;
}

std::string TGoodsEncoder::EncodePrice(int64_t price, int byteCount) {
  const int digits = 2 * byteCount;
  if (byteCount < 1 || byteCount > 8) return std::string();
  std::string text(static_cast<size_t>(digits), '0');
  if (price < 0 || price > INT64_MAX - kPriceScale) return text;
  int64_t cents = PriceCents(price);
  for (int i = digits - 1; i >= 0 && cents > 0; --i) {
    text[static_cast<size_t>(i)] = static_cast<char>('0' + cents % 10);
    cents /= 10;
  }
  if (cents != 0) return std::string(static_cast<size_t>(digits), '0');
  return text;
}

}  // namespace tv
