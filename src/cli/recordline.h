// Goods records back into goods file lines: the lines a back office would
// have written for the records a scale acknowledged, in the layout the
// stored ImportType reads, so that a replaced scale can be given them again
// through an ordinary parked copy.  Every line is proved by encoding it with
// the profile the record was made with: a record whose bytes no line makes
// again (settings changed since, or a field the layout cannot carry) is
// named with the reason, never passed off as the same.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/regional.h"
#include "scale/scaleprofile.h"

namespace tv {

// One record made into lines.
struct TRecordLines {
  int32_t goods = 0;
  std::string lines;  // the I line (when the record has text) and the A line, CR LF ended
  bool same = false;  // the lines encode to the record's very bytes
  std::string why;    // when not: what differs
};

// The lines for the goods frame `frame` (frame head included) under
// `profile` and `host`, tried until one makes the same bytes.
TRecordLines LinesOfRecord(const std::vector<uint8_t>& frame, const TScaleProfile& profile,
                           const platform::Regional& host);

// A whole goods file of `records` (a clock line last, for the time of
// sending).  `records` is checked again as the service reads the file: a
// record the whole file does not make again is marked not same.
std::string GoodsFileOf(std::vector<TRecordLines>& records,
                        const std::vector<std::vector<uint8_t>>& frames,
                        const TScaleProfile& profile, const platform::Regional& host);

}  // namespace tv
