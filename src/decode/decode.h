// Decoders of the frames a scale receives, each to one JSON line.  They
// read every length and count from the bytes against the bytes' real size:
// a malformed frame gives a line with an "error" member, never a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/codepage.h"

namespace tv::decode {

// One field of a decoded frame, for an annotated listing: where it lies in
// the frame, what it is, and what it reads as (UTF-8).
struct TFrameField {
  size_t offset = 0;
  size_t size = 0;
  std::string name;
  std::string value;
};
using TFrameFields = std::vector<TFrameField>;

using text::TextCodePage;

// A goods protocol frame (F3 25 delete, F1 4E clock, F1 25 goods record),
// frame head included.  Texts are given in UTF-8 and as hex of the bytes.
// With `fields`, every field read is also listed there in frame order.
std::string DecodeGoodsFrame(const uint8_t* data, size_t len,
                             TextCodePage text = TextCodePage::Cp866, TFrameFields* fields = nullptr);
// An SM700 record frame (F1, command byte, record); texts decoded from
// ISO 8859-5 with trailing zero bytes removed.
std::string DecodeSm700Frame(const uint8_t* data, size_t len, TFrameFields* fields = nullptr);
using text::ToUtf8;

}  // namespace tv::decode
