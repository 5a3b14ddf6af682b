// TEncodedFile: one goods file encoded for one scale profile, the frames in
// the order a delivery sends them (deletions, goods, clock).  It is built
// once and then only read, by every client of the profile at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/linelists.h"
#include "platform/regional.h"
#include "scale/scaleprofile.h"

namespace tv {

enum class TStepKind : uint8_t {
  Delete,           // delete frame; 0x06 or 0xE2 accepted
  Goods,            // goods frame; only 0x06 accepted
  Clock,            // clock frame of the date the T line gives; 0x06 or 0xE2
  CurrentClock,     // clock frame of the time it is sent; built by the sender
  Unencodable,      // a goods record that could not be encoded: result code 4
  UnreadableClock,  // the clock line cannot be read: the delivery stops here
};

// One step of a delivery; frame steps point into TEncodedFile::bytes.
struct TDeliveryStep {
  TStepKind kind = TStepKind::Delete;
  uint32_t offset = 0;
  uint32_t length = 0;
  uint32_t entry = 0;  // the line it came from: index into dLines, aLines or tLines
  // What a failure names: the goods number of a goods or delete frame (0 for
  // a clock frame) and the file's line number of a goods frame (0: unknown).
  int32_t goodsNumber = 0;
  uint32_t line = 0;
};

// A D, A or T line that gave no frame, and why.
struct TLeftOutLine {
  char code = 0;
  size_t entry = 0;  // index into dLines, aLines or tLines
  std::string reason;
};

struct TEncodedFile {
  std::vector<uint8_t> bytes;  // the frames one after the other
  std::vector<TDeliveryStep> steps;
  // A lines the encoder gave no goods frame, for the service log; the bytes
  // and steps do not depend on them.
  size_t skippedGoods = 0;
  size_t firstSkippedGoods = 0;  // index into the A lines of the first one
  std::string firstSkipReason;
  // Every line that gave no frame, in the order they were met (deletions,
  // goods, clock lines), for tools that explain a file.
  std::vector<TLeftOutLine> leftOut;

  const uint8_t* Frame(const TDeliveryStep& step) const { return bytes.data() + step.offset; }
  // Starts again, keeping the memory for the next file.
  void Clear() {
    bytes.clear();
    steps.clear();
    skippedGoods = 0;
    firstSkippedGoods = 0;
    firstSkipReason.clear();
    leftOut.clear();
  }
};

using TEncodedFilePtr = std::shared_ptr<const TEncodedFile>;

// Encodes `lists` for `profile` into `out` (cleared first).  `lists` is only
// read; the host's separators are those the file was parsed with.
void EncodeFile(const TLineLists& lists, const TScaleProfile& profile,
                const platform::Regional& host, TEncodedFile& out);
TEncodedFilePtr EncodeFile(const TLineLists& lists, const TScaleProfile& profile,
                           const platform::Regional& host);

}  // namespace tv
