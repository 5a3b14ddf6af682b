#include "text/utils.h"

#include "text/RusChar.h"

namespace tv::text {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Record text is always upper case; anything else reads as 0 rather than
// failing, so a damaged digit cannot abort a record.
uint8_t DigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return 0;
}

}  // namespace

uint8_t HexToByte(const std::string& hex) {
  unsigned value = 0;
  for (size_t i = 0; i < hex.size() && i < 2; ++i) value = (value * 16 + DigitValue(hex[i])) & 0xFF;
  return static_cast<uint8_t>(value);
}

std::string ByteToHex(uint8_t b) { return {kHexDigits[b >> 4], kHexDigits[b & 0x0F]}; }

std::string StrToHex(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) out += ByteToHex(static_cast<uint8_t>(c));
  return out;
}

std::string StrToHexFixed(const std::string& bytes, int width, char pad, bool padRight) {
  if (width <= 0) return std::string();
  size_t w = static_cast<size_t>(width);
  std::string hex = StrToHex(bytes.size() * 2 > w ? bytes.substr(0, (w + 1) / 2) : bytes);
  if (hex.size() > w) hex.resize(w);
  if (hex.size() < w) {
    std::string fill(w - hex.size(), pad);
    hex = padRight ? hex + fill : fill + hex;
  }
  return hex;
}

std::string RecodeForScale(const std::string& text) { return ConvertString(text, kConvWin1251ToIso); }

uint16_t HexToWord(const std::string& hex) {
  uint8_t high = HexToByte(hex.size() > 0 ? hex.substr(0, 2) : std::string());
  uint8_t low = HexToByte(hex.size() > 2 ? hex.substr(2, 2) : std::string());
  return static_cast<uint16_t>(high * 256 + low);
}

}  // namespace tv::text
