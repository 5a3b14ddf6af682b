#include "text/utils.h"

#include <limits>

#include "text/cyrillic.h"

namespace tv::text {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

uint8_t HexDigitValue(char c, bool lowerCase) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  if (lowerCase && c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  return 0;
}

// Record text is always upper case.
uint8_t HexToByte(const std::string& hex) {
  unsigned value = 0;
  for (size_t i = 0; i < hex.size() && i < 2; ++i)
    value = (value * 16 + HexDigitValue(hex[i])) & 0xFF;
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

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool StrToInt(std::string_view s, int32_t& value) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(v);
  return true;
}

bool ParsePort(std::string_view s, uint16_t& port) {
  if (s.empty() || s.find_first_not_of("0123456789") != std::string_view::npos) return false;
  int32_t value = 0;
  if (!StrToInt(s, value) || value < 1 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace tv::text
