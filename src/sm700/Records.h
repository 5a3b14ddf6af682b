// Builders for the binary records that carry a keyboard layout to an SM700
// scale: keyboard, key, image path and image records.  A record is built as
// text (two hex digits per byte, decimal fields as zero-filled digits that
// read back as packed BCD) and framed into bytes just before it is sent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tv {

struct TKeyboardInfo {
  std::string Name;  // Windows-1251
  int32_t Number = 0;
};

struct TKeyInfo {
  std::string Text;  // Windows-1251
  int32_t KeyIndex = 0;
  int32_t KeyboardNo = 0;
  int32_t KeyNo = 0;
  std::string FileName;
};

// Record kinds; each selects the command byte that framing puts after 0xF1.
constexpr uint8_t kKindKeyboard = 0;
constexpr uint8_t kKindKey = 1;
constexpr uint8_t kKindImage = 2;
constexpr uint8_t kKindImagePath = 6;

constexpr size_t kFrameBufferSize = 10244;
constexpr int kKeyRecordLength = 85;  // keyboard records too
constexpr int kImageRecordLength = 242;
inline constexpr char kImageDirectory[] = "/opt/pcscale/files/img/plu/";

// The image number is one counter for the whole process: the path record
// and image record of a key share it, and every upload restarts it.
void SetImageNumber(int number);
int CurrentImageNumber();
// Advances the counter (101 ... 254, 256 ... 9998, then 101 again) and
// returns the new number.
int NextImageNumber();

class TRecords {
 public:
  TRecords() = default;
  TRecords(const TRecords&) = delete;
  TRecords& operator=(const TRecords&) = delete;

  // Each builder replaces List() with the one record text it built; a record
  // whose numbers cannot be encoded leaves List() empty.
  void BuildKeyboardRecord(const TKeyboardInfo& info);
  void BuildKeyRecord(const TKeyInfo& info);
  void BuildImagePathRecord(const TKeyInfo& info);
  void BuildImageRecord(const TKeyInfo& info);

  // Frames `text` for the current kind into Frame(); the frame length, or 0
  // when the kind has no command byte or the declared length does not fit.
  int FrameRecord(const std::string& text);

  uint8_t Kind() const { return kind_; }
  void SetKind(uint8_t kind) { kind_ = kind; }
  const std::vector<std::string>& List() const { return list_; }
  const uint8_t* Frame() const { return frame_.data(); }

 private:
  template <typename Fn>
  void Build(uint8_t kind, Fn&& text);

  uint8_t kind_ = kKindKeyboard;
  std::vector<std::string> list_;
  std::array<uint8_t, kFrameBufferSize> frame_{};
};

}  // namespace tv
