// Decoding of SM700 record frames: keyboard, key, image path and image.

#include <string>

#include "decode/bytes.h"
#include "decode/decode.h"
#include "decode/json.h"

namespace tv::decode {
namespace {

constexpr size_t kKeyRecordLength = 85;
constexpr size_t kImageRecordLength = 242;

// A fixed-width ISO 8859-5 text field without its zero padding.
std::string FieldText(const uint8_t* p, size_t n) {
  while (n > 0 && p[n - 1] == 0) --n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

void AddText(JsonObject& j, const std::string& key, const std::string& bytes) {
  j.Str(key, ToUtf8(bytes, TextCodePage::Iso88595));
  j.Str(key + "Hex", Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i]) return false;
  }
  return true;
}

// Keyboard (flag 0x20 at byte 10) and key (0x00) records share one layout.
void KeyOrKeyboard(JsonObject& j, const uint8_t* r, size_t len) {
  if (len != kKeyRecordLength) {
    j.Str("kind", "record41").Str("error", "record of " + std::to_string(len) + " bytes, not 85");
    return;
  }
  const char* kind = r[10] == 0x20 ? "keyboard" : r[10] == 0x00 ? "key" : "record41";
  j.Str("kind", kind).Raw("record", BcdJson(r, 4)).Int("length", static_cast<int64_t>(len));
  j.Raw(r[10] == 0x20 ? "keyboard" : "keyIndex", BcdJson(r + 6, 4));
  j.Raw("flags", "[\"" + Hex(r[10]) + "\",\"" + Hex(r[11]) + "\",\"" + Hex(r[80]) + "\"]");
  AddText(j, "text", FieldText(r + 12, 32));
  j.Str("words", Hex(r + 44, 4));
  AddText(j, "text2", FieldText(r + 48, 32));
  j.Raw("trailing", BcdJson(r + 81, 4));
}

void ImagePath(JsonObject& j, const uint8_t* r, size_t len) {
  j.Str("kind", "imagePath").Raw("image", BcdJson(r, 4)).Int("length", static_cast<int64_t>(len));
  if (len < 7) {
    j.Str("error", "image path record below 7 bytes");
    return;
  }
  j.Str("byte6", Hex(r[6]));
  AddText(j, "path", std::string(reinterpret_cast<const char*>(r + 7), len - 7));
}

void Image(JsonObject& j, const uint8_t* r, size_t len) {
  j.Str("kind", "image").Raw("keyIndex", BcdJson(r, 4)).Int("length", static_cast<int64_t>(len));
  if (len != kImageRecordLength) {
    j.Str("error", "image record of " + std::to_string(len) + " bytes, not 242");
    return;
  }
  j.Raw("image", BcdJson(r + 6, 2));
  j.Bool("zeroFilled", AllZero(r + 8, len - 8));
}

}  // namespace

std::string DecodeSm700Frame(const uint8_t* data, size_t len) {
  JsonObject j;
  if (len < 8 || data[0] != 0xF1) {
    j.Str("kind", "unknown").Str("error", "not an F1 frame with a record head");
    j.Str("hex", Hex(data, len));
    return j.Text();
  }
  const uint8_t* r = data + 2;
  size_t declared = static_cast<size_t>(r[4] << 8 | r[5]);
  size_t recLen = len - 2;
  j.Str("command", Hex(data[1]));
  if (declared != recLen) {
    j.Str("kind", "unknown").Str("error", "length field " + std::to_string(declared) +
                                              " but " + std::to_string(recLen) + " bytes");
  } else if (data[1] == 0x41) {
    KeyOrKeyboard(j, r, recLen);
  } else if (data[1] == 0x37) {
    ImagePath(j, r, recLen);
  } else if (data[1] == 0xA5) {
    Image(j, r, recLen);
  } else {
    j.Str("kind", "unknown").Raw("record", BcdJson(r, 4)).Int("length", static_cast<int64_t>(recLen));
  }
  j.Str("hex", Hex(data, len));
  return j.Text();
}

}  // namespace tv::decode
