// The SM700 keyboard upload protocol as a scale serves it: opening messages
// F2 xx and framed records F1 cmd record, one answer byte after each.

#include <optional>
#include <vector>

#include "decode/bytes.h"
#include "decode/decode.h"
#include "scalesim/sim_state.h"
#include "text/json.h"

namespace tv::sim {
namespace {

using decode::DecodeSm700Frame;
using decode::Hex;
using text::JsonObject;

bool Answer(ScaleState& s, platform::TcpSocket& c, const Behaviour& b, uint8_t answer) {
  return s.Pause(b.delayMs) && c.SendAll(&answer, 1);
}

bool ServeHello(ScaleState& s, platform::TcpSocket& c, const Behaviour& b) {
  uint8_t code;
  if (!c.RecvByte(code)) return false;
  JsonObject j;
  j.Str("kind", "hello").Str("code", Hex(code));
  s.Record(Port::Sm700, j.Text(), b.helloAnswer, nullptr);
  return Answer(s, c, b, b.helloAnswer);
}

// Reads the rest of a record frame after its F1; false when the connection
// ended or the length field cannot be a record.
bool ReadRecord(platform::TcpSocket& c, std::vector<uint8_t>& frame, bool& malformed) {
  malformed = false;
  frame.assign(8, 0);
  frame[0] = 0xF1;
  if (!c.RecvExact(frame.data() + 1, 7)) return false;
  size_t length = static_cast<size_t>(frame[6] << 8 | frame[7]);
  if (length < 6) {
    malformed = true;
    return false;
  }
  frame.resize(2 + length);
  return length == 6 || c.RecvExact(frame.data() + 8, length - 6);
}

void RecordUnknown(ScaleState& s, const std::vector<uint8_t>& bytes) {
  s.Record(Port::Sm700, DecodeSm700Frame(bytes.data(), bytes.size()), std::nullopt, &bytes);
}

}  // namespace

void ServeSm700(ScaleState& s, platform::TcpSocket& c) {
  std::vector<uint8_t> frame;
  for (int records = 0;;) {
    Behaviour b = s.Snapshot();
    if (b.sm700CloseAfterRecords >= 0 && records >= b.sm700CloseAfterRecords) return;
    uint8_t first;
    if (!c.RecvByte(first)) return;
    if (first == 0xF2) {
      if (!ServeHello(s, c, b)) return;
      continue;
    }
    if (first != 0xF1) return RecordUnknown(s, {first});
    bool malformed;
    if (!ReadRecord(c, frame, malformed)) {
      if (malformed) RecordUnknown(s, frame);
      return;
    }
    ++records;
    std::optional<uint8_t> answer = s.Sm700Answer(b);
    s.Record(Port::Sm700, DecodeSm700Frame(frame.data(), frame.size()), answer, &frame);
    if (answer && !Answer(s, c, b, *answer)) return;
  }
}

}  // namespace tv::sim
