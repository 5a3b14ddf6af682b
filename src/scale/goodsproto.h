// Named codes of the goods record protocol: frame heads, answers, the flag
// bytes' defaults and the Flag4 bits that select the label text blocks.
#pragma once

#include <cstdint>

namespace tv::goods {

// First two bytes of every frame.
enum FrameHead : uint8_t {
  kRecordFrame = 0xF1,   // goods record and clock
  kDeleteFrame = 0xF3,
  kGoodsCommand = 0x25,  // after kRecordFrame or kDeleteFrame
  kClockCommand = 0x4E,  // after kRecordFrame
};

// One-byte answers of the scale.
enum Answer : uint8_t {
  kAck = 0x06,
  kAltAck = 0xE2,  // also accepted after delete and clock frames
};

constexpr int kDeleteFrameLength = 6;
constexpr int kClockFrameLength = 14;

// Flag bytes every goods line starts from.
enum FlagDefault : uint8_t {
  kFlag1Default = 0x54,
  kFlag2Default = 0x00,
  kFlag3Default = 0x0D,
  kFlag4Default = 0xE0,
  kFlag5Default = 0x11,
};

// Flag4 bits of the label text blocks.
enum TextBlock : uint8_t {
  kNameBlock = 0x20,
  kMessageBlock = 0x40,
  kIngredientBlock = 0x80,
};
// Without ingredient text the ingredient block goes out and NoTextValue in.
constexpr uint8_t kFlag4NoIngredients = kIngredientBlock | 0x04;

// Line terminators inside a text block.
enum LineEnd : uint8_t {
  kLineBreak = 0x0D,  // between lines
  kBlockEnd = 0x0C,   // after the last
};

}  // namespace tv::goods
