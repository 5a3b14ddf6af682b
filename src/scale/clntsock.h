// TScaleClnt: the client thread that delivers one parsed goods file to one
// scale over the scales' record protocol.  It opens the connection after an
// ICMP probe, sends a delete frame per D line, a goods frame per usable A line
// and a clock frame for the first T line, reads the one-byte answer after
// every frame, and ends with a result code (scaletypes.h).
//
// The encoding steps work without a socket so they can be checked byte by
// byte: every frame is assembled at the start of sendBuffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "config/settings.h"
#include "files/linelists.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/regional.h"
#include "platform/thread.h"
#include "scale/recordwriter.h"
#include "scale/scaletypes.h"

namespace tv {

// What a client reads from its surroundings, handed over at creation.
struct TScaleClntContext {
  TEngineSettingsPtr settings;
  TLineLists* lists = nullptr;  // the cycle's working lists
  platform::Regional host;      // the host's separators
  const platform::Clock* clock = nullptr;  // null: the system clock
};

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
  uint8_t terminator = 0;  // 0x0D between lines, 0x0C after the last
};

constexpr int kNameLineCount = 4;
constexpr int kIngredientLineCount = 23;
constexpr int kMessageLineCount = 8;
constexpr size_t kMaxTextLineChars = 100;
constexpr uint8_t kLineBreak = 0x0D;
constexpr uint8_t kBlockEnd = 0x0C;

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

struct TNameSplit {
  std::string line1, line2;
  uint8_t font1 = 0, font2 = 0;
};

class TScaleClnt : public platform::Thread {
 public:
  static constexpr size_t kSendBufferSize = 128000;
  static constexpr int kNetworkTimeoutMs = 15000;
  static constexpr uint8_t kAck = 0x06;
  static constexpr uint8_t kAltAck = 0xE2;  // also accepted after delete and clock

  TScaleClnt(bool NameAlgorithm, bool LongBarCode, bool TextToOEM, TScaleType ScaleType,
             std::string BarPrefix, std::string Address, int32_t LabelWidth,
             int32_t IngredientFont, int32_t MessageFont, int32_t BarcodeType,
             int32_t LabelFormat, int32_t Port, char ListSeparator, char DecimalSeparator,
             bool UseByInDays, bool ConstBarcode, TScaleClntContext context);
  ~TScaleClnt() override;

  // Session (each step false when the delivery must stop).
  bool OpenConnection();
  bool SendDeletions();
  bool SendGoods();
  bool SendClock();
  bool CloseConnection();
  int ResultCode() const { return resultCode; }

  // Goods records.  PrepareGoodsRecord parses and encodes one aLines entry;
  // FrameGoodsRecord then gives the goods frame's length (0: nothing to send).
  bool PrepareGoodsRecord(const std::string& entry);
  bool EncodeGoodsRecord();
  size_t FrameGoodsRecord();
  // Price x 10000 as 2 x byteCount digits of hundredths, rounded half away
  // from zero; all zeros when it does not fit or is negative.
  static std::string EncodePrice(int64_t price, int byteCount = 4);

  // Import lines.
  bool ParseGoodsLine(const std::string& entry);
  bool LoadIngredientText(const std::string& key);
  void SplitMessageLines();
  // The goods number to delete, or nothing when the entry is skipped.
  std::optional<int32_t> ParseDeletionEntry(const std::string& entry) const;
  bool ParseClockLine(const std::string& entry, TClockSetting& out) const;

  // Label text blocks.
  void SplitName(const std::string& name, int32_t labelWidth, TNameSplit& out) const;
  // Decides line presence and terminators of the blocks selected in Flag4
  // and gives the bytes they add to the record.
  int32_t PrepareTextBlocks();
  void WriteTextBlocks(TRecordWriter& out) const;

  // Frames built at the start of sendBuffer; they give their length.
  size_t FrameDeletion(int32_t goodsNumber);
  size_t FrameClock(const TClockSetting& when);

  const uint8_t* SendBuffer() const { return sendBuffer.data(); }
  const TImportRecord& ImportRecord() const { return importRecord; }
  TGoodsRecord& GoodsRecord() { return record; }
  char ListSeparator() const { return listSeparator; }
  char DecimalSeparator() const { return decimalSeparator; }

 protected:
  int Execute() override;

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
  bool Exchange(size_t frameLength, bool altAckAccepted);
  void ClearImportRecord();

  // Creation arguments.
  const bool nameAlgorithm;
  const bool longBarCode;
  const bool textToOEM;
  const TScaleType scaleType;
  const std::string barPrefix;
  const std::string address;
  const int32_t labelWidth;
  const int32_t ingredientFont;
  const int32_t messageFont;
  const int32_t barcodeType;
  const int32_t labelFormat;
  const int32_t port;
  const char listSeparator;
  const char decimalSeparator;
  const bool useByInDays;
  const bool constBarcode;

  const TEngineSettingsPtr settings;
  TLineLists* const lists;
  const platform::Regional host;
  const platform::Clock& clock;

  // Delivery state.
  platform::TcpSocket socket;
  bool connected = false;
  bool sentSomething = false;
  int resultCode = kResultDelivered;

  // Working state, reused line after line so that no frame allocates.
  std::array<uint8_t, kSendBufferSize> sendBuffer{};
  size_t encodedLength = 0;  // bytes of the record at sendBuffer + 2
  TImportRecord importRecord;
  TGoodsRecord record;
  TNameSplit nameSplit;
  std::string textValue;  // the goods' text from iValues
};

}  // namespace tv
