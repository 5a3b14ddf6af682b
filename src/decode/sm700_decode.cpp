// Decoding of SM700 record frames: keyboard, key, image path and image.

#include <string>

#include "decode/bytes.h"
#include "decode/decode.h"
#include "text/json.h"

namespace tv::decode {

using text::JsonObject;

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

// Record offsets are two bytes into the frame.
void Note(TFrameFields* fields, size_t recordOffset, size_t size, const std::string& name,
          const std::string& value = "") {
  if (fields) fields->push_back({recordOffset + 2, size, name, value});
}

std::string Number(const uint8_t* p, size_t n) {
  int64_t v;
  return BcdValue(p, n, v) ? std::to_string(v) : "digits " + BcdDigits(p, n);
}

std::string Quoted(const std::string& bytes) { return "\"" + ToUtf8(bytes, TextCodePage::Iso88595) + "\""; }

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i]) return false;
  }
  return true;
}

// Keyboard (flag 0x20 at byte 10) and key (0x00) records share one layout.
void KeyOrKeyboard(JsonObject& j, const uint8_t* r, size_t len, TFrameFields* fields) {
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
  const bool keyboard = r[10] == 0x20;
  Note(fields, 0, 4, "record number", Number(r, 4));
  Note(fields, 4, 2, "record length", std::to_string(len));
  Note(fields, 6, 4, keyboard ? "keyboard number" : "key index", Number(r + 6, 4));
  Note(fields, 10, 2, "flags");
  Note(fields, 12, 32, keyboard ? "keyboard name" : "key text", Quoted(FieldText(r + 12, 32)));
  Note(fields, 44, 4, "two words");
  Note(fields, 48, 32, "second text", Quoted(FieldText(r + 48, 32)));
  Note(fields, 80, 1, "third flag");
  Note(fields, 81, 4, "trailing number", Number(r + 81, 4));
}

void ImagePath(JsonObject& j, const uint8_t* r, size_t len, TFrameFields* fields) {
  j.Str("kind", "imagePath").Raw("image", BcdJson(r, 4)).Int("length", static_cast<int64_t>(len));
  if (len < 7) {
    j.Str("error", "image path record below 7 bytes");
    return;
  }
  j.Str("byte6", Hex(r[6]));
  const std::string path(reinterpret_cast<const char*>(r + 7), len - 7);
  AddText(j, "path", path);
  Note(fields, 0, 4, "image number", Number(r, 4));
  Note(fields, 4, 2, "record length", std::to_string(len));
  Note(fields, 6, 1, "zero byte");
  Note(fields, 7, len - 7, "image path", Quoted(path));
}

void Image(JsonObject& j, const uint8_t* r, size_t len, TFrameFields* fields) {
  j.Str("kind", "image").Raw("keyIndex", BcdJson(r, 4)).Int("length", static_cast<int64_t>(len));
  if (len != kImageRecordLength) {
    j.Str("error", "image record of " + std::to_string(len) + " bytes, not 242");
    return;
  }
  j.Raw("image", BcdJson(r + 6, 2));
  j.Bool("zeroFilled", AllZero(r + 8, len - 8));
  Note(fields, 0, 4, "key index", Number(r, 4));
  Note(fields, 4, 2, "record length", std::to_string(len));
  Note(fields, 6, 2, "image number", Number(r + 6, 2));
  Note(fields, 8, len - 8, "texts and padding", AllZero(r + 8, len - 8) ? "all zero" : "not all zero");
}

}  // namespace

std::string DecodeSm700Frame(const uint8_t* data, size_t len, TFrameFields* fields) {
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
    if (fields) fields->push_back({0, 2, "frame head", ""});
    KeyOrKeyboard(j, r, recLen, fields);
  } else if (data[1] == 0x37) {
    if (fields) fields->push_back({0, 2, "frame head", ""});
    ImagePath(j, r, recLen, fields);
  } else if (data[1] == 0xA5) {
    if (fields) fields->push_back({0, 2, "frame head", ""});
    Image(j, r, recLen, fields);
  } else {
    j.Str("kind", "unknown").Raw("record", BcdJson(r, 4)).Int("length", static_cast<int64_t>(recLen));
  }
  j.Str("hex", Hex(data, len));
  return j.Text();
}

}  // namespace tv::decode
