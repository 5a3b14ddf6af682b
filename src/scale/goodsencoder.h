// TGoodsEncoder: turns the lines of a parsed goods file into the frames of
// the goods record protocol for one scale profile, with no socket and no
// thread.  Goods lines are read by ImportType into a TImportRecord, become a
// goods record with its label text blocks, and are written into a frame at
// the start of the encoder's buffer; deletion entries and clock lines give
// their frames the same way.  Buffers and strings are reused line after line
// so that no frame allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "files/linelists.h"
#include "platform/clock.h"
#include "platform/regional.h"
#include "scale/goodsproto.h"
#include "scale/recordwriter.h"
#include "scale/scaleprofile.h"
#include "scale/scaletypes.h"

namespace tv {

// One goods line as read from the file; rewritten for every line.
struct TImportRecord {
  std::string Barcode;    // up to 12 characters
  std::string Code;       // up to 15; also the key of the goods' text
  std::string Reserved1;  // read, not used
  std::string Reserved2;
  char KindFlag = 0;
  char AltLabelFlag = 0;
  std::string Price;      // decimal text, up to 8 characters
  std::string ShelfLife;  // up to 3 characters
  std::string Reserved3;
  std::string UseByFlag;  // "0", "1" or empty
  std::string Name;       // up to 80 characters
  std::string ExtraText;  // extended lines only
  int32_t LabelFormat = 0;
  bool Extended = false;
};

// One label text line.  `text` excludes the terminator, which is decided
// when the blocks are prepared.
struct TTextLine {
  std::string text;
  uint8_t font = 0;
  bool present = false;
  uint8_t terminator = 0;  // goods::kLineBreak between lines, kBlockEnd after the last
};

constexpr int kNameLineCount = 4;
constexpr int kIngredientLineCount = 23;
constexpr int kMessageLineCount = 8;
constexpr size_t kMaxTextLineChars = 100;

struct TGoodsRecord {
  int32_t GoodsNumber = 0;
  int32_t RecordLength = 0;  // checked against 16 bits when encoded
  uint8_t Flag1 = 0, Flag2 = 0, Flag3 = 0, Flag4 = 0, Flag5 = 0;
  int64_t Price = 0;  // price x 10000
  uint8_t LabelFormat = 0;
  uint8_t BarcodeType = 0;
  std::string BarcodeDigits;  // 14 characters
  int32_t ShelfLifeA = 0, ShelfLifeB = 0, ShelfLifeC = 0;
  int32_t CountValue = 1, ZeroValue = 0, NoTextValue = 1;
  std::array<TTextLine, kNameLineCount> nameLines;
  std::array<TTextLine, kIngredientLineCount> ingredientLines;
  std::array<TTextLine, kMessageLineCount> messageLines;
  uint8_t EndByte = 0;
};

// Date and time for the clock frame; year modulo 100.
struct TClockSetting {
  int day = 0, month = 0, year = 0, hour = 0, minute = 0;
};

// What a clock line asks for.
enum class TClockLine { Fixed, CurrentTime, Unreadable };

struct TNameSplit {
  std::string line1, line2;
  uint8_t font1 = 0, font2 = 0;
};

// The clock frame for `when`, written to `out` (at least
// goods::kClockFrameLength bytes); its length, 0 when a value does not fit.
size_t FrameClock(const TClockSetting& when, uint8_t* out, size_t capacity);
TClockSetting ClockSettingOf(const platform::LocalTime& t);

class TGoodsEncoder {
 public:
  static constexpr size_t kFrameBufferSize = 128000;

  // `texts` is the file's name=value table, only read: the goods texts that
  // extended lines carry are kept by the encoder itself (see
  // goodsencoder_lines.cpp).  `clock` (null: the system clock) answers
  // ParseClockLine for lines that ask for the current time.
  TGoodsEncoder(const TScaleProfile& profile, const TValueTable& texts,
                const platform::Regional& host, const platform::Clock* clock = nullptr);
  TGoodsEncoder(const TGoodsEncoder&) = delete;
  TGoodsEncoder& operator=(const TGoodsEncoder&) = delete;

  // Goods records.  PrepareGoodsRecord parses and encodes one aLines entry;
  // FrameGoodsRecord then gives the goods frame's length (0: nothing to send).
  bool PrepareGoodsRecord(const std::string& entry);
  bool EncodeGoodsRecord();
  size_t FrameGoodsRecord();
  // True when the last PrepareGoodsRecord met a record it could not encode.
  bool LastRecordUnencodable() const { return lastUnencodable; }
  // Why the last PrepareGoodsRecord gave no record, for the service log;
  // empty after a record was prepared.
  const std::string& LastSkipReason() const { return lastSkipReason; }
  // kResultEncodeFailed once any record could not be encoded, else 0.
  int ResultCode() const { return resultCode; }
  // Price x 10000 as 2 x byteCount digits of hundredths, rounded half away
  // from zero; all zeros when it does not fit or is negative.
  static std::string EncodePrice(int64_t price, int byteCount = 4);

  // Import lines.
  bool ParseGoodsLine(const std::string& entry);
  bool LoadIngredientText(const std::string& key);
  void SplitMessageLines();
  // The goods text stored for `key` as the encoder sees it: an extended
  // line's own text first, then the file's table.
  bool GoodsText(const std::string& key, std::string& value) const;
  // The goods number to delete, or nothing when the entry is skipped.
  std::optional<int32_t> ParseDeletionEntry(const std::string& entry) const;
  // Reads a clock line; CurrentTime leaves `out` alone.
  TClockLine ReadClockLine(const std::string& entry, TClockSetting& out) const;
  // As ReadClockLine, with the clock's time for CurrentTime.
  bool ParseClockLine(const std::string& entry, TClockSetting& out) const;

  // Label text blocks.
  void SplitName(const std::string& name, int32_t labelWidth, TNameSplit& out) const;
  // Decides line presence and terminators of the blocks selected in Flag4
  // and gives the bytes they add to the record.
  int32_t PrepareTextBlocks();
  void WriteTextBlocks(TRecordWriter& out) const;

  // Frames built at the start of the frame buffer; they give their length.
  size_t FrameDeletion(int32_t goodsNumber);
  size_t FrameClock(const TClockSetting& when);

  const uint8_t* FrameBuffer() const { return frameBuffer->data(); }
  const TImportRecord& ImportRecord() const { return importRecord; }
  TGoodsRecord& GoodsRecord() { return record; }
  char ListSeparator() const { return listSeparator; }
  char DecimalSeparator() const { return decimalSeparator; }

 private:
  bool ReadFixedLine(const std::string& entry);
  bool ReadDelimitedLine(const std::string& entry);
  bool ReadLayout1A(const std::string& entry);
  bool ReadLayout1B(const std::string& entry);
  bool ReadExtendedLine(const std::string& entry);
  void StoreExtendedText(const std::string& entry, size_t pos);
  bool DeriveGoodsFields();
  void DeriveBarcode();
  void DeriveShelfLife();
  void ApplyFlagChanges(bool ingredientTextFound);
  void WriteOptionalFields(TRecordWriter& out) const;
  void ClearImportRecord();

  const TScaleProfile profile;
  // The profile's values under the names the encoding steps use.
  const bool nameAlgorithm;
  const bool longBarCode;
  const bool textToOEM;
  const TScaleType scaleType;
  const std::string barPrefix;
  const int32_t labelWidth;
  const int32_t ingredientFont;
  const int32_t messageFont;
  const int32_t barcodeType;
  const int32_t labelFormat;
  const char listSeparator;     // the profile's, or the host's when 0
  const char decimalSeparator;  // the profile's, or the host's when 0
  const bool useByInDays;
  const bool constBarcode;

  const TValueTable& texts;
  TValueTable extendedTexts;  // goods texts of extended lines, this file only
  const platform::Regional host;
  const platform::Clock& clock;

  int resultCode = kResultDelivered;
  bool lastUnencodable = false;
  std::string lastSkipReason;

  // Working state, reused line after line so that no frame allocates.
  std::unique_ptr<std::array<uint8_t, kFrameBufferSize>> frameBuffer;
  size_t encodedLength = 0;  // bytes of the record at the frame buffer + 2
  TImportRecord importRecord;
  TGoodsRecord record;
  TNameSplit nameSplit;
  std::string textValue;  // the goods' text being split into lines
};

}  // namespace tv
