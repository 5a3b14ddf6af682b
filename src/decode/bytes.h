// Bounds-checked reading of a received frame and the hex and packed-decimal
// views the decoders print.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tv::decode {

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t len) : data_(data), len_(len) {}
  // Points `out` at the next `n` bytes and moves past them; false (and no
  // move) when fewer are left.
  bool Take(size_t n, const uint8_t*& out);
  bool Byte(uint8_t& out);
  size_t Pos() const { return pos_; }
  size_t Left() const { return len_ - pos_; }

 private:
  const uint8_t* data_;
  size_t len_;
  size_t pos_ = 0;
};

// Two upper-case hex digits per byte.
std::string Hex(const uint8_t* data, size_t len);
std::string Hex(uint8_t b);
// The nibbles of packed-decimal bytes as digits; a nibble above 9 shows as
// its hex letter.
std::string BcdDigits(const uint8_t* data, size_t len);
// The packed-decimal value as a JSON number, or its digits as a JSON string
// when a nibble is not a decimal digit.
std::string BcdJson(const uint8_t* data, size_t len);
// True and the value when every nibble is a decimal digit.
bool BcdValue(const uint8_t* data, size_t len, int64_t& value);

}  // namespace tv::decode
