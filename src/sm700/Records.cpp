#include "sm700/Records.h"

#include <atomic>
#include <cstring>
#include <stdexcept>

#include "platform/log.h"
#include "text/utils.h"

namespace tv {
namespace {

std::atomic<int> gImageNumber{100};

int AdvanceImageNumber(int n) {
  ++n;
  if (n <= 100) ++n;
  if (n == 255) ++n;  // the scale reserves 255
  if (n >= 9999) n = 101;
  return n;
}

constexpr uint8_t kNoCommand = 0;
constexpr uint8_t kCommandByKind[] = {0x41, 0x41, 0xA5, 0x41, 0x23, 0x20, 0x37, 0x37, 0x37};

uint8_t CommandByte(uint8_t kind) {
  return kind < sizeof kCommandByKind ? kCommandByKind[kind] : kNoCommand;
}

// Zero-filled decimal digits; they read back as packed BCD, so a value that
// needs more digits (or a sign) would shift every later field.
std::string Decimal(int64_t value, int digits) {
  int64_t limit = 1;
  for (int i = 0; i < digits; ++i) limit *= 10;
  if (value < 0 || value >= limit) throw std::out_of_range("number does not fit its BCD field");
  std::string s = std::to_string(value);
  return std::string(static_cast<size_t>(digits) - s.size(), '0') + s;
}

std::string Hex16(uint16_t value) {
  return text::ByteToHex(static_cast<uint8_t>(value >> 8)) + text::ByteToHex(static_cast<uint8_t>(value));
}

std::string Hex8(uint8_t value) { return text::ByteToHex(value); }

std::string FixedText(const std::string& text, int width) {
  return text::StrToHexFixed(text::RecodeForScale(text), width, '0', true);
}

// Keyboard and key records share one layout; only these values differ.
std::string KeyLayoutRecord(int64_t recordNumber, int64_t secondNumber, uint8_t firstFlag,
                            const std::string& name, uint8_t thirdFlag) {
  std::string r;
  r += Decimal(recordNumber, 8);
  r += Hex16(kKeyRecordLength);
  r += Decimal(secondNumber, 8);
  r += Hex8(firstFlag);
  r += Hex8(0x01);
  r += FixedText(name, 64);
  r += "0000";  // first word, low byte first
  r += "0000";  // second word, low byte first
  r += FixedText(std::string(), 64);
  r += Hex8(thirdFlag);
  r += Decimal(0, 8);
  return r;
}

}  // namespace

void SetImageNumber(int number) { gImageNumber.store(number); }

int CurrentImageNumber() { return gImageNumber.load(); }

int NextImageNumber() {
  int current = gImageNumber.load();
  int next = AdvanceImageNumber(current);
  while (!gImageNumber.compare_exchange_weak(current, next)) next = AdvanceImageNumber(current);
  return next;
}

template <typename Fn>
void TRecords::Build(uint8_t kind, Fn&& text) {
  kind_ = kind;
  list_.clear();
  try {
    list_.push_back(text());
  } catch (const std::exception& e) {
    // Leaves the list empty; the sender treats that as a record not sent.
    platform::LogWarning("keyboard record of kind %u not built: %s", static_cast<unsigned>(kind), e.what());
  }
}

void TRecords::BuildKeyboardRecord(const TKeyboardInfo& info) {
  Build(kKindKeyboard, [&] {
    return KeyLayoutRecord(10000 + int64_t{info.Number}, info.Number, 0x20, info.Name, 0x04);
  });
}

void TRecords::BuildKeyRecord(const TKeyInfo& info) {
  Build(kKindKey, [&] {
    int64_t recordNumber = (int64_t{info.KeyboardNo} - 1) * 1000 + info.KeyNo;
    return KeyLayoutRecord(recordNumber, info.KeyIndex, 0x00, info.Text, 0x00);
  });
}

void TRecords::BuildImagePathRecord(const TKeyInfo& info) {
  Build(kKindImagePath, [&] {
    std::string path = text::RecodeForScale(kImageDirectory + info.FileName);
    std::string r = Decimal(CurrentImageNumber(), 8);
    r += Hex16(static_cast<uint16_t>(path.size() + 7));
    r += "00";
    r += text::StrToHex(path);
    return r;
  });
}

void TRecords::BuildImageRecord(const TKeyInfo& info) {
  Build(kKindImage, [&] {
    std::string r = Decimal(info.KeyIndex, 8);
    r += Hex16(kImageRecordLength);
    r += Decimal(CurrentImageNumber(), 4);
    r += std::string(16, '0');
    r += FixedText(std::string(), 64);
    r += FixedText(std::string(), 160);
    r += FixedText(std::string(), 160);
    r += FixedText(std::string(), 66);
    r += "00";
    return r;
  });
}

int TRecords::FrameRecord(const std::string& text) {
  uint8_t command = CommandByte(kind_);
  if (command == kNoCommand) return 0;
  size_t length = text::HexToWord(text.size() > 8 ? text.substr(8, 4) : std::string());
  if (length + 2 > frame_.size()) return 0;
  std::memset(frame_.data(), 0, length + 2);
  frame_[0] = text::HexToByte("F1");
  frame_[1] = command;
  // Digits missing from a short text read as zero bytes.
  for (size_t i = 0; i < length && 2 * i < text.size(); ++i)
    frame_[2 + i] = text::HexToByte(text.substr(2 * i, 2));
  return static_cast<int>(length + 2);
}

}  // namespace tv
