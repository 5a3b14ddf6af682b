#include "scale/recordwriter.h"

#include <cstring>

#include "scale/fieldtext.h"

namespace tv {

bool TRecordWriter::Reserve(size_t n) {
  if (!ok || n > cap - pos) {
    ok = false;
    return false;
  }
  return true;
}

void TRecordWriter::Byte(uint8_t b) {
  if (Reserve(1)) buf[pos++] = b;
}

void TRecordWriter::Bcd(int64_t value, int digits) {
  if (digits <= 0 || digits % 2 != 0 || value < 0) {
    ok = false;
    return;
  }
  size_t bytes = static_cast<size_t>(digits / 2);
  if (!Reserve(bytes)) return;
  for (size_t i = bytes; i-- > 0;) {
    int lo = static_cast<int>(value % 10);
    value /= 10;
    int hi = static_cast<int>(value % 10);
    value /= 10;
    buf[pos + i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  if (value != 0) {
    ok = false;  // does not fit the field
    return;
  }
  pos += bytes;
}

void TRecordWriter::HexText(std::string_view text) {
  if (text.size() % 2 != 0) {
    ok = false;
    return;
  }
  if (!Reserve(text.size() / 2)) return;
  for (size_t i = 0; i < text.size(); i += 2) {
    buf[pos++] = static_cast<uint8_t>(NibbleOf(text[i]) << 4 | NibbleOf(text[i + 1]));
  }
}

void TRecordWriter::Raw(const uint8_t* data, size_t len) {
  if (!Reserve(len)) return;
  if (len != 0) std::memcpy(buf + pos, data, len);
  pos += len;
}

}  // namespace tv
