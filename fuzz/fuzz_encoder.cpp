// Line lists + scale profile -> frames.  The first bytes choose every value
// of the profile and the host's separators; the rest is a goods file, parsed
// as the service parses it and encoded.  Properties: steps come in delivery
// order and tile the bytes; delete frames are F3 25 + a BCD goods number,
// clock frames F1 4E with BCD date and time; a goods frame is F1 25, a goods
// number 1..999997, a record length equal to the frame length less the two
// head bytes, a non-zero packed price, optional fields as the flags say, text
// blocks of lines of at most 100 characters in the profile's fonts and row
// counts, each ended by 0x0D when another line of the block follows and 0x0C
// after the block's last, and the end byte last; every A line gives a goods
// frame or a skip, and no record is unencodable; encoding is deterministic
// and does not depend on what the output held before.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "files/importparse.h"
#include "fuzzcheck.h"
#include "scale/encodedfile.h"
#include "scale/goodsproto.h"

namespace {

using namespace tv::goods;

constexpr size_t kHeaderBytes = 16;
constexpr char kSeparators[] = {0, ',', ';', '\t', '|', '.', ' ', 'x'};

bool Bit(uint8_t flags, int bit) { return (flags >> bit & 1) != 0; }

// `bytes` packed decimal bytes at `p`, or -1 when a nibble is not a digit.
int64_t Bcd(const uint8_t* p, size_t bytes) {
  int64_t v = 0;
  for (size_t i = 0; i < bytes; ++i) {
    const int hi = p[i] >> 4, lo = p[i] & 0x0F;
    if (hi > 9 || lo > 9) return -1;
    v = v * 100 + hi * 10 + lo;
  }
  return v;
}

int32_t LabelWidthOf(uint8_t b) {
  static constexpr int32_t kWidths[] = {30, 37, 40, 43, 58, 0, 33, -1};
  return (b & 0x80) ? static_cast<int8_t>(b) : kWidths[b & 7];
}

struct Input {
  tv::TScaleProfile profile;
  tv::platform::Regional host;
  std::string goodsFile;
};

Input Decode(const uint8_t* data, size_t size) {
  Input in;
  tv::TScaleProfile& p = in.profile;
  p.NameAlgorithm = Bit(data[0], 0);
  p.LongBarCode = Bit(data[0], 1);
  p.TextToOEM = Bit(data[0], 2);
  p.UseByInDays = Bit(data[0], 3);
  p.ConstBarcode = Bit(data[0], 4);
  p.ForceDi30 = Bit(data[0], 5);
  p.ScaleType = static_cast<tv::TScaleType>(data[1] % 6);
  p.ImportType = static_cast<uint8_t>(data[2] % 4);  // 3: no such type
  p.LabelWidth = LabelWidthOf(data[3]);
  p.IngredientFont = static_cast<int8_t>(data[4]);
  p.MessageFont = static_cast<int8_t>(data[5]);
  p.BarcodeType = data[6];
  p.LabelFormat = data[7];
  p.ListSeparator = kSeparators[data[8] & 7];
  p.DecimalSeparator = kSeparators[data[8] >> 3 & 7];
  in.host.listSeparator = kSeparators[1 + (data[9] & 3)];
  in.host.decimalSeparator = (data[9] & 4) ? ',' : '.';
  p.INGRROWCount = static_cast<int8_t>(data[10]);
  p.SMESSROWCount = static_cast<int8_t>(data[11]);
  p.INGRCOLCount = static_cast<int8_t>(data[12]);
  p.SMESSCOLCount = static_cast<int8_t>(data[13]);
  p.MaxMessRowCount = static_cast<int8_t>(data[14]);
  size_t prefix = std::min<size_t>(data[15] % 16, size - kHeaderBytes);
  p.BarPrefix.assign(reinterpret_cast<const char*>(data + kHeaderBytes), prefix);
  in.goodsFile.assign(reinterpret_cast<const char*>(data + kHeaderBytes + prefix),
                      size - kHeaderBytes - prefix);
  return in;
}

void CheckDeleteFrame(const uint8_t* f, size_t n) {
  FUZZ_CHECK(n == kDeleteFrameLength);
  FUZZ_CHECK(f[0] == kDeleteFrame && f[1] == kGoodsCommand);
  FUZZ_CHECK(Bcd(f + 2, 4) >= 0);
}

void CheckClockFrame(const uint8_t* f, size_t n) {
  FUZZ_CHECK(n == kClockFrameLength);
  const uint8_t head[] = {kRecordFrame, kClockCommand, 0x00, 0x00, 0x00, 0xFF, 0x00};
  for (size_t i = 0; i < sizeof(head); ++i) FUZZ_CHECK(f[i] == head[i]);
  const int64_t day = Bcd(f + 7, 1), month = Bcd(f + 8, 1), year = Bcd(f + 9, 1);
  FUZZ_CHECK(day >= 0 && month >= 0 && year >= 0);
  FUZZ_CHECK(f[10] == 0 && f[11] == 0);
  FUZZ_CHECK(Bcd(f + 12, 1) >= 0 && Bcd(f + 13, 1) >= 0);
}

// Bytes of the optional fields the flags select.  The bits whose fields are
// never written must stay clear, or the length rule and the bytes disagree.
size_t OptionalFieldBytes(uint8_t flag3, uint8_t flag4, uint8_t flag5) {
  FUZZ_CHECK(!Bit(flag3, 1) && !Bit(flag3, 5) && !Bit(flag4, 4) && !Bit(flag5, 7));
  size_t n = 0;
  if (Bit(flag3, 4)) n += 2;
  for (int bit = 0; bit <= 4; ++bit) n += Bit(flag5, bit) ? 2 : 0;
  if (Bit(flag3, 6)) n += 2;
  if (Bit(flag3, 7)) n += 2;
  for (int bit = 0; bit <= 2; ++bit) n += Bit(flag4, bit) ? 1 : 0;
  if (Bit(flag5, 5)) n += 1;
  return n;
}

// One text block from `pos`: lines of font, length, text and terminator,
// 0x0D while the block goes on and 0x0C after its last line, at most
// `maxLines` of them and all in `font` when it is given.  The message block
// may end early on a 0x0C and start again when a later line of it is sent,
// so as the last block it runs until only the end byte is left.
struct Block {
  bool selected = false;
  size_t maxLines = 0;
  int font = -1;  // -1: chosen per line
};

void CheckTextBlock(const uint8_t* f, size_t n, size_t& pos, const Block& block, bool isLast) {
  size_t lines = 0;
  for (;;) {
    FUZZ_CHECK(pos + 2 <= n);
    if (block.font >= 0) FUZZ_CHECK(f[pos] == block.font);
    const size_t length = f[pos + 1];
    FUZZ_CHECK(length <= 100);
    pos += 2 + length;
    FUZZ_CHECK(pos < n);
    const uint8_t end = f[pos++];
    FUZZ_CHECK(end == kLineBreak || end == kBlockEnd);
    ++lines;
    if (end == kLineBreak) continue;
    if (!isLast || pos + 1 == n) break;
  }
  FUZZ_CHECK(lines >= 1 && lines <= block.maxLines);
}

void CheckGoodsFrame(const uint8_t* f, size_t n, const tv::TScaleProfile& p) {
  constexpr size_t kFixedBytes = 2 + 25;
  FUZZ_CHECK(n >= kFixedBytes);
  FUZZ_CHECK(f[0] == kRecordFrame && f[1] == kGoodsCommand);
  const int64_t goodsNumber = Bcd(f + 2, 4);
  FUZZ_CHECK(goodsNumber >= 1 && goodsNumber <= 999997);
  FUZZ_CHECK((size_t{f[6]} << 8 | f[7]) == n - 2);
  const uint8_t flag3 = f[10], flag4 = f[11], flag5 = f[12];
  const int64_t priceCents = Bcd(f + 13, 4);
  FUZZ_CHECK(priceCents >= 1 && priceCents <= 99999999);
  size_t pos = 19 + 7 + OptionalFieldBytes(flag3, flag4, flag5);
  FUZZ_CHECK(pos < n);
  const Block blocks[] = {
      {Bit(flag4, 5), 4, -1},
      {Bit(flag4, 7), static_cast<size_t>(std::clamp(p.INGRROWCount, 1, 23)),
       static_cast<uint8_t>(p.IngredientFont)},
      {Bit(flag4, 6), static_cast<size_t>(std::clamp(std::min(p.SMESSROWCount, p.MaxMessRowCount), 1, 8)),
       static_cast<uint8_t>(p.MessageFont)},
  };
  for (int b = 0; b < 3; ++b) {
    if (!blocks[b].selected) continue;
    bool later = false;
    for (int c = b + 1; c < 3; ++c) later = later || blocks[c].selected;
    CheckTextBlock(f, n, pos, blocks[b], !later);
  }
  FUZZ_CHECK(pos + 1 == n && f[pos] == 0x00);
}

void CheckEncoded(const tv::TEncodedFile& e, const tv::TLineLists& lists,
                  const tv::TScaleProfile& profile) {
  using tv::TStepKind;
  size_t offset = 0, goodsSteps = 0, unencodable = 0;
  int phase = 0;  // 0 deletions, 1 goods, 2 clock
  for (const tv::TDeliveryStep& s : e.steps) {
    FUZZ_CHECK(s.offset == offset && s.offset + s.length <= e.bytes.size());
    const uint8_t* f = e.Frame(s);
    int stepPhase = 0;
    switch (s.kind) {
      case TStepKind::Delete: CheckDeleteFrame(f, s.length); break;
      case TStepKind::Goods: stepPhase = 1; ++goodsSteps; CheckGoodsFrame(f, s.length, profile); break;
      case TStepKind::Unencodable: stepPhase = 1; ++unencodable; FUZZ_CHECK(s.length == 0); break;
      case TStepKind::Clock: stepPhase = 2; CheckClockFrame(f, s.length); break;
      case TStepKind::CurrentClock:
      case TStepKind::UnreadableClock: stepPhase = 2; FUZZ_CHECK(s.length == 0); break;
    }
    FUZZ_CHECK(stepPhase >= phase && !(phase == 2 && stepPhase == 2));
    phase = stepPhase;
    offset += s.length;
  }
  FUZZ_CHECK(offset == e.bytes.size());
  FUZZ_CHECK(goodsSteps + e.skippedGoods == lists.aLines.size());
  // Text blocks are bounded (35 lines of at most 100 characters), so a
  // record always fits its 16-bit length: one that does not encode is a
  // fault in the length rule or the writer, never the input's.
  FUZZ_CHECK(unencodable == 0);
  FUZZ_CHECK(e.steps.size() <= lists.dLines.size() + lists.aLines.size() + 1);
  if (e.skippedGoods > 0) FUZZ_CHECK(e.firstSkippedGoods < lists.aLines.size());
}

bool SameEncoding(const tv::TEncodedFile& a, const tv::TEncodedFile& b) {
  if (a.bytes != b.bytes || a.steps.size() != b.steps.size()) return false;
  for (size_t i = 0; i < a.steps.size(); ++i) {
    const tv::TDeliveryStep &x = a.steps[i], &y = b.steps[i];
    if (x.kind != y.kind || x.offset != y.offset || x.length != y.length) return false;
  }
  return a.skippedGoods == b.skippedGoods && a.firstSkippedGoods == b.firstSkippedGoods &&
         a.firstSkipReason == b.firstSkipReason;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  const Input in = Decode(data, size);
  tv::TLineLists lists;
  tv::ParseImportBytes(in.goodsFile, in.profile.ImportType, in.host.listSeparator, lists);

  tv::TEncodedFile first;
  tv::EncodeFile(lists, in.profile, in.host, first);
  CheckEncoded(first, lists, in.profile);

  // The same lists again, into an output that held another file's frames.
  tv::TEncodedFile again;
  tv::TLineLists other;
  other.dLines = {"1", "2"};
  other.tLines = {"202401020304"};
  tv::EncodeFile(other, in.profile, in.host, again);
  tv::EncodeFile(lists, in.profile, in.host, again);
  FUZZ_CHECK(SameEncoding(first, again));
  FUZZ_CHECK(SameEncoding(first, *tv::EncodeFile(lists, in.profile, in.host)));
  return 0;
}
