// Keyboard XML -> the records an upload sends.  Properties: no exception
// escapes; a refused document yields nothing; keyboards are numbered 1, 2,
// ... and the keys of a keyboard 1, 2, ... across the elements that continue
// it; every key and keyboard of an accepted document builds and frames, and
// each frame carries the command byte, the record number and a length field
// that match the frame's own length, with the text recoded for the scale.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzzcheck.h"
#include "sm700/XMLKeyboard_parse.h"
#include "sm700/Records.h"
#include "text/utils.h"

namespace {

// Big-endian 16-bit length field of a framed record (after F1, the command
// byte and the 4-byte record number).
int LengthField(const uint8_t* frame) { return frame[6] << 8 | frame[7]; }

// Packed BCD digits of `bytes` bytes.
int64_t Bcd(const uint8_t* p, int bytes) {
  int64_t v = 0;
  for (int i = 0; i < bytes; ++i) {
    FUZZ_CHECK((p[i] >> 4) <= 9 && (p[i] & 0x0F) <= 9);
    v = v * 100 + (p[i] >> 4) * 10 + (p[i] & 0x0F);
  }
  return v;
}

// Frames what the last builder put into `records`; the frame length.
int Frame(tv::TRecords& records, uint8_t command) {
  FUZZ_CHECK(records.List().size() == 1);
  const int length = records.FrameRecord(records.List()[0]);
  FUZZ_CHECK(length > 8);
  const uint8_t* f = records.Frame();
  FUZZ_CHECK(f[0] == 0xF1 && f[1] == command);
  FUZZ_CHECK(LengthField(f) + 2 == length);
  return length;
}

// The 32-byte text field at `offset` of a frame: the recoded text, cut or
// filled with zero bytes.
void CheckTextField(const uint8_t* frame, size_t offset, const std::string& text) {
  std::string expected = tv::text::RecodeForScale(text).substr(0, 32);
  expected.resize(32, '\0');
  FUZZ_CHECK(std::string(reinterpret_cast<const char*>(frame + offset), 32) == expected);
}

void CheckKey(tv::TRecords& records, const tv::TKeyInfo& key) {
  records.BuildKeyRecord(key);
  FUZZ_CHECK(Frame(records, 0x41) == tv::kKeyRecordLength + 2);
  FUZZ_CHECK(Bcd(records.Frame() + 2, 4) == (key.KeyboardNo - 1) * 1000 + key.KeyNo);
  FUZZ_CHECK(Bcd(records.Frame() + 8, 4) == key.KeyIndex);
  CheckTextField(records.Frame(), 14, key.Text);

  const int image = tv::NextImageNumber();
  records.BuildImagePathRecord(key);
  const std::string path = tv::text::RecodeForScale(tv::kImageDirectory + key.FileName);
  FUZZ_CHECK(Frame(records, 0x37) == static_cast<int>(path.size()) + 9);
  FUZZ_CHECK(Bcd(records.Frame() + 2, 4) == image);
  FUZZ_CHECK(std::string(reinterpret_cast<const char*>(records.Frame() + 9), path.size()) == path);

  records.BuildImageRecord(key);
  FUZZ_CHECK(Frame(records, 0xA5) == tv::kImageRecordLength + 2);
  FUZZ_CHECK(Bcd(records.Frame() + 2, 4) == key.KeyIndex);
  FUZZ_CHECK(Bcd(records.Frame() + 8, 2) == image);
}

void CheckKeyboard(tv::TRecords& records, const tv::TKeyboardInfo& info) {
  records.BuildKeyboardRecord(info);
  FUZZ_CHECK(Frame(records, 0x41) == tv::kKeyRecordLength + 2);
  FUZZ_CHECK(Bcd(records.Frame() + 2, 4) == 10000 + info.Number);
  FUZZ_CHECK(Bcd(records.Frame() + 8, 4) == info.Number);
  CheckTextField(records.Frame(), 14, info.Name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  tv::TKeyboardDocument document;
  bool parsed = false;
  try {
    parsed = document.Parse(bytes);
  } catch (...) {
    FUZZ_CHECK(!"an exception left TKeyboardDocument::Parse");
  }
  if (!parsed) {
    FUZZ_CHECK(document.Elements().empty());
    return 0;
  }

  tv::SetImageNumber(100);
  tv::TRecords records;
  int32_t keyboard = 0;
  int32_t nextKey = 1;
  for (const tv::TKeyboardElement& element : document.Elements()) {
    if (element.keyboard.Number != 0) {  // a new keyboard starts here
      FUZZ_CHECK(element.keyboard.Number == keyboard + 1);
      keyboard = element.keyboard.Number;
      nextKey = 1;
    }
    for (const tv::TKeyInfo& key : element.keys) {
      FUZZ_CHECK(key.KeyboardNo == keyboard && key.KeyNo == nextKey);
      FUZZ_CHECK(!key.Text.empty());
      ++nextKey;
      CheckKey(records, key);
    }
    // A keyboard record only for a new keyboard that got a key here.
    FUZZ_CHECK(!element.sendKeyboard || (element.keyboard.Number == keyboard && !element.keys.empty()));
    if (element.sendKeyboard) CheckKeyboard(records, element.keyboard);
  }
  return 0;
}
