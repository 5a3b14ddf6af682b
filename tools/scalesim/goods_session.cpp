// The goods protocol as a scale serves it: one frame at a time, read by its
// exact length, then one answer byte.

#include <optional>
#include <vector>

#include "decode/decode.h"
#include "scalesim/sim_state.h"

namespace tv::sim {
namespace {

using decode::DecodeGoodsFrame;

enum class Read { Frame, Closed, Malformed };

bool Append(platform::TcpSocket& c, std::vector<uint8_t>& frame, size_t n) {
  size_t at = frame.size();
  frame.resize(at + n);
  return n == 0 || c.RecvExact(frame.data() + at, n);
}

// Reads one whole frame; Malformed leaves the bytes read so far in `frame`.
Read ReadFrame(platform::TcpSocket& c, std::vector<uint8_t>& frame) {
  frame.clear();
  if (!Append(c, frame, 2)) return Read::Closed;
  if (frame[0] == 0xF3 && frame[1] == 0x25) return Append(c, frame, 4) ? Read::Frame : Read::Closed;
  if (frame[0] == 0xF1 && frame[1] == 0x4E) return Append(c, frame, 12) ? Read::Frame : Read::Closed;
  if (frame[0] != 0xF1 || frame[1] != 0x25) return Read::Malformed;
  // The record's own length, at record bytes 4-5, counts its 6-byte head.
  if (!Append(c, frame, 6)) return Read::Closed;
  size_t length = static_cast<size_t>(frame[6] << 8 | frame[7]);
  if (length < 6) return Read::Malformed;
  return Append(c, frame, length - 6) ? Read::Frame : Read::Closed;
}

uint8_t AnswerFor(ScaleState& s, const std::vector<uint8_t>& frame, const Behaviour& b) {
  if (frame[0] == 0xF3) return b.deleteAnswer;
  if (frame[1] == 0x4E) return b.clockAnswer;
  return s.GoodsRecordAnswer(b);
}

}  // namespace

void ServeGoods(ScaleState& s, platform::TcpSocket& c) {
  std::vector<uint8_t> frame;
  for (int answered = 0;;) {
    Behaviour b = s.Snapshot();
    if (b.closeAfterFrames >= 0 && answered >= b.closeAfterFrames) return;
    Read r = ReadFrame(c, frame);
    if (r == Read::Closed) return;
    std::string json = DecodeGoodsFrame(frame.data(), frame.size(), b.goodsText);
    if (r == Read::Malformed) {
      // A scale cannot find the next frame after bytes it does not know.
      s.Record(Port::Goods, json, std::nullopt, &frame);
      return;
    }
    std::optional<uint8_t> answer;
    if (!b.neverAnswer) answer = AnswerFor(s, frame, b);
    s.Record(Port::Goods, json, answer, &frame);
    if (!answer) continue;
    if (!s.Pause(b.delayMs) || !c.SendAll(&*answer, 1)) return;
    ++answered;
  }
}

}  // namespace tv::sim
