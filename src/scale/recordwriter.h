// Writes a goods record's bytes straight into a fixed buffer: packed decimal
// fields, plain bytes, hex-digit text and raw characters.  Every write is
// checked against the capacity; once one does not fit, the writer stays
// failed and writes nothing more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tv {

class TRecordWriter {
 public:
  TRecordWriter(uint8_t* buffer, size_t capacity) : buf(buffer), cap(capacity) {}

  void Byte(uint8_t b);
  // `value` as `digits` decimal digits, two per byte, first in the high
  // nibble; a value that needs more digits, or is negative, fails.
  void Bcd(int64_t value, int digits);
  // Each pair of characters becomes one byte as if hexadecimal (non-digits
  // give nibble 0); `text` must hold an even count.
  void HexText(std::string_view text);
  void Raw(const uint8_t* data, size_t len);

  bool Ok() const { return ok; }
  size_t Size() const { return pos; }

 private:
  bool Reserve(size_t n);

  uint8_t* buf;
  size_t cap;
  size_t pos = 0;
  bool ok = true;
};

}  // namespace tv
