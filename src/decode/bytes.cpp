#include "decode/bytes.h"

#include "text/json.h"

namespace tv::decode {

using text::JsonQuote;

bool ByteReader::Take(size_t n, const uint8_t*& out) {
  if (n > Left()) return false;
  out = data_ + pos_;
  pos_ += n;
  return true;
}

bool ByteReader::Byte(uint8_t& out) {
  const uint8_t* p;
  if (!Take(1, p)) return false;
  out = *p;
  return true;
}

std::string Hex(const uint8_t* data, size_t len) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(len * 2);
  for (size_t i = 0; i < len; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0x0F];
  }
  return out;
}

std::string Hex(uint8_t b) { return Hex(&b, 1); }

std::string BcdDigits(const uint8_t* data, size_t len) { return Hex(data, len); }

bool BcdValue(const uint8_t* data, size_t len, int64_t& value) {
  value = 0;
  for (size_t i = 0; i < len; ++i) {
    int hi = data[i] >> 4, lo = data[i] & 0x0F;
    if (hi > 9 || lo > 9) return false;
    value = value * 100 + hi * 10 + lo;
  }
  return true;
}

std::string BcdJson(const uint8_t* data, size_t len) {
  int64_t v;
  if (BcdValue(data, len, v)) return std::to_string(v);
  return JsonQuote(BcdDigits(data, len));
}

}  // namespace tv::decode
