#include "scale/encodedfile.h"

#include "scale/goodsencoder.h"

namespace tv {
namespace {

void AddFrame(TEncodedFile& out, TStepKind kind, const uint8_t* frame, size_t length, size_t entry,
              int32_t goodsNumber = 0, size_t line = 0) {
  TDeliveryStep step{kind,
                     static_cast<uint32_t>(out.bytes.size()),
                     static_cast<uint32_t>(length),
                     static_cast<uint32_t>(entry),
                     goodsNumber,
                     static_cast<uint32_t>(line)};
  out.bytes.insert(out.bytes.end(), frame, frame + length);
  out.steps.push_back(step);
}

void AddMark(TEncodedFile& out, TStepKind kind, size_t entry) {
  out.steps.push_back(
      {kind, static_cast<uint32_t>(out.bytes.size()), 0, static_cast<uint32_t>(entry)});
}

void EncodeDeletions(const TLineLists& lists, TGoodsEncoder& encoder, TEncodedFile& out) {
  for (size_t i = 0; i < lists.dLines.size(); ++i) {
    std::optional<int32_t> goodsNumber = encoder.ParseDeletionEntry(lists.dLines[i]);
    if (!goodsNumber) {
      out.leftOut.push_back({'D', i, "D line without a goods number to delete"});
      continue;
    }
    AddFrame(out, TStepKind::Delete, encoder.FrameBuffer(), encoder.FrameDeletion(*goodsNumber), i,
             *goodsNumber);
  }
}

void EncodeGoods(const TLineLists& lists, TGoodsEncoder& encoder, TEncodedFile& out) {
  for (size_t i = 0; i < lists.aLines.size(); ++i) {
    if (!encoder.PrepareGoodsRecord(lists.aLines[i])) {
      if (encoder.LastRecordUnencodable()) AddMark(out, TStepKind::Unencodable, i);
      out.leftOut.push_back({'A', i, encoder.LastSkipReason()});
      if (out.skippedGoods++ == 0) {
        out.firstSkippedGoods = i;
        out.firstSkipReason = encoder.LastSkipReason();
      }
      continue;
    }
    // A goods step counts as sent even when framing leaves nothing to send.
    const int32_t goodsNumber = encoder.GoodsRecord().GoodsNumber;
    const size_t line = i < lists.aLineNumbers.size() ? lists.aLineNumbers[i] : 0;
    AddFrame(out, TStepKind::Goods, encoder.FrameBuffer(), encoder.FrameGoodsRecord(), i,
             goodsNumber, line);
  }
}

// Only the first T line counts.  A line that asks for the current time is
// left to the sender: the scale's clock is set to the moment of sending, as
// it was when every client encoded for itself, not to when the batch began.
void EncodeClock(const TLineLists& lists, TGoodsEncoder& encoder, TEncodedFile& out) {
  if (lists.tLines.empty()) return;
  for (size_t i = 1; i < lists.tLines.size(); ++i)
    out.leftOut.push_back({'T', i, "only the first T line sets the clock"});
  TClockSetting when;
  switch (encoder.ReadClockLine(lists.tLines.front(), when)) {
    case TClockLine::CurrentTime:
      AddMark(out, TStepKind::CurrentClock, 0);
      return;
    case TClockLine::Unreadable:
      AddMark(out, TStepKind::UnreadableClock, 0);
      out.leftOut.push_back({'T', 0, encoder.ClockLineExpectation()});
      return;
    case TClockLine::Fixed: {
      size_t length = encoder.FrameClock(when);
      if (length == 0) {
        AddMark(out, TStepKind::UnreadableClock, 0);
        out.leftOut.push_back({'T', 0, encoder.ClockLineExpectation()});
      } else {
        AddFrame(out, TStepKind::Clock, encoder.FrameBuffer(), length, 0);
      }
      return;
    }
  }
}

}  // namespace

void EncodeFile(const TLineLists& lists, const TScaleProfile& profile,
                const platform::Regional& host, TEncodedFile& out) {
  out.Clear();
  TGoodsEncoder encoder(profile, lists.iValues, host);
  EncodeDeletions(lists, encoder, out);
  EncodeGoods(lists, encoder, out);
  EncodeClock(lists, encoder, out);
}

TEncodedFilePtr EncodeFile(const TLineLists& lists, const TScaleProfile& profile,
                           const platform::Regional& host) {
  auto file = std::make_shared<TEncodedFile>();
  EncodeFile(lists, profile, host, *file);
  return file;
}

}  // namespace tv
