// Label text blocks: the name split by label width, line presence and
// terminators of the name, ingredient and message blocks, and their bytes.
#include <algorithm>
#include <vector>

#include "platform/oem.h"
#include "scale/goodsencoder.h"
#include "scale/goodsencoder.h"
#include "text/cyrillic.h"

namespace tv {
namespace {

using namespace goods;

struct TNameSplitParams {
  int shortLimit = 0;       // a name shorter than this: one line, short font
  int shortFont = 0;
  int lineLimit = 0;        // a name shorter than this: one line, medium font
  int plainFont = 0;        // both lines after a plain split
  int mediumFont = 0;
  int secondLineLimit = 0;  // a second line shorter than this keeps...
  int secondLineFont = 0;   // ...this font
  int longFirstFont = 0;    // first line beside a long second line
};

TNameSplitParams ParamsForWidth(int32_t width) {
  switch (width) {
    case 30: return {10, 9, 17, 5, 5, 20, 4, 5};
    case 37: return {13, 7, 17, 5, 5, 26, 2, 4};
    case 40:
    case 43: return {14, 7, 19, 5, 5, 28, 2, 4};
    case 58: return {19, 9, 26, 7, 8, 38, 4, 7};
    default: return {};  // unknown widths: all zero, as stored
  }
}

// Characters of `s` from 0-based `from`, at most `count` (negative: none).
std::string_view Sub(const std::string& s, long from, long count = -1) {
  if (from < 0) from = 0;
  if (static_cast<size_t>(from) >= s.size()) return {};
  std::string_view v = std::string_view(s).substr(static_cast<size_t>(from));
  if (count >= 0 && static_cast<size_t>(count) < v.size()) v = v.substr(0, static_cast<size_t>(count));
  return v;
}

// Marks which lines of a block are sent and ends each with CR, or FF when
// the next line of the block is not sent.
int32_t TerminateLines(TTextLine* lines, int count, uint8_t font) {
  int32_t bytes = 0;
  for (int i = 0; i < count; ++i) {
    TTextLine& line = lines[i];
    if (!line.present) continue;
    if (line.text.size() > kMaxTextLineChars) line.text.resize(kMaxTextLineChars);
    line.font = font;
    bool nextSent = i + 1 < count && lines[i + 1].present;
    line.terminator = nextSent ? kLineBreak : kBlockEnd;
    bytes += static_cast<int32_t>(line.text.size()) + 3;
  }
  return bytes;
}

}  // namespace

void TGoodsEncoder::SplitName(const std::string& name, int32_t width, TNameSplit& out) const {
  const bool forceDi30 = scaleType == TScaleType::BigPlatform && profile.ForceDi30;
  const TNameSplitParams p = ParamsForWidth(forceDi30 ? 30 : width);
  const long length = static_cast<long>(name.size());
  out.line1 = name;
  out.line2.clear();
  out.font2 = 0;
  if (length < p.shortLimit) {
    out.font1 = static_cast<uint8_t>(p.shortFont);
    return;
  }
  if (length < p.lineLimit) {
    out.font1 = static_cast<uint8_t>(p.mediumFont);
    return;
  }
  // 1-based positions of the spaces, one in the last position left out.
  long spaces[kMaxTextLineChars + 1];
  int k = 0;
  for (long i = 0; i + 1 < length && k < static_cast<int>(std::size(spaces)); ++i) {
    if (name[static_cast<size_t>(i)] == ' ') spaces[k++] = i + 1;
  }
  long position = 0;
  int examined = 0;
  while (position < p.lineLimit && examined < k) position = spaces[examined++];
  if (examined >= 1) {
    long s = spaces[examined >= 2 ? examined - 2 : 0];
    out.line2.assign(Sub(name, s));
    out.line1.assign(Sub(name, 0, s - 1));
  } else {
    out.line1.assign(Sub(name, 0, std::max(0, p.lineLimit - 2)));
    out.line2.assign(Sub(name, p.lineLimit - 2));
  }
  const long second = static_cast<long>(out.line2.size());
  if (second < p.lineLimit || nameAlgorithm) {
    out.font1 = out.font2 = static_cast<uint8_t>(p.plainFont);
    if (second >= p.lineLimit) out.line2.resize(static_cast<size_t>(std::max(0, p.lineLimit - 2)));
    return;
  }
  out.font1 = static_cast<uint8_t>(p.longFirstFont);
  if (second < p.secondLineLimit) {
    out.font2 = static_cast<uint8_t>(p.secondLineFont);
  } else if (labelWidth == 58 && second < 52) {
    out.font2 = 3;
  } else {
    out.font2 = 1;
  }
}

int32_t TGoodsEncoder::PrepareTextBlocks() {
  TGoodsRecord& r = record;
  int32_t bytes = 0;
  for (TTextLine& line : r.nameLines) line.present = false;
  for (TTextLine& line : r.ingredientLines) line.present = false;
  for (TTextLine& line : r.messageLines) line.present = false;

  if (r.Flag4 & kNameBlock) {
    // Line 1 always; every further line only while none before it was empty.
    r.nameLines[0].present = true;
    for (int i = 1; i < kNameLineCount && !r.nameLines[i].text.empty(); ++i) {
      r.nameLines[i].present = true;
    }
    for (int i = 0; i < kNameLineCount; ++i) {
      TTextLine& line = r.nameLines[i];
      if (!line.present) continue;
      if (line.text.size() > kMaxTextLineChars) line.text.resize(kMaxTextLineChars);
      bool nextSent = i + 1 < kNameLineCount && r.nameLines[i + 1].present;
      line.terminator = nextSent ? kLineBreak : kBlockEnd;
      bytes += static_cast<int32_t>(line.text.size()) + 3;
    }
  }

  if (r.Flag4 & kIngredientBlock) {
    // At least line 1 is sent once the block is selected.
    const int rows = std::clamp(profile.INGRROWCount, 1, kIngredientLineCount);
    auto& lines = r.ingredientLines;
    if (lines[0].text.empty()) lines[0].text.assign(" ");
    int lastFilled = 0;
    for (int i = 0; i < kIngredientLineCount; ++i) {
      if (!lines[i].text.empty()) lastFilled = i;
    }
    for (int i = 0; i < rows; ++i) {
      if (lines[i].text.empty() && i < lastFilled) lines[i].text.assign(" ");
      lines[i].present = !lines[i].text.empty();
    }
    bytes += TerminateLines(lines.data(), rows, static_cast<uint8_t>(ingredientFont));
  }

  if (r.Flag4 & kMessageBlock) {
    const int rows = std::clamp(std::min(profile.SMESSROWCount, profile.MaxMessRowCount), 1,
                                kMessageLineCount);
    auto& lines = r.messageLines;
    if (lines[0].text.empty()) lines[0].text.assign(" ");
    for (int i = 0; i < rows; ++i) lines[i].present = !lines[i].text.empty();
    bytes += TerminateLines(lines.data(), rows, static_cast<uint8_t>(messageFont));
  }
  return bytes;
}

void TGoodsEncoder::WriteTextBlocks(TRecordWriter& out) const {
  const TGoodsRecord& r = record;
  auto writeBlock = [&](const TTextLine* lines, int count) {
    uint8_t chars[kMaxTextLineChars + 1];
    for (int i = 0; i < count; ++i) {
      const TTextLine& line = lines[i];
      if (!line.present) continue;
      const size_t length = std::min(line.text.size(), kMaxTextLineChars);
      line.text.copy(reinterpret_cast<char*>(chars), length);
      chars[length] = line.terminator;
      if (textToOEM) platform::CharToOemA(reinterpret_cast<char*>(chars), length + 1);
      if (scaleType == TScaleType::SM700) {
        for (size_t c = 0; c <= length; ++c) {
          chars[c] = text::ConvertChar(chars[c], text::cpDos866, text::cpIso88595);
        }
      }
      out.Byte(line.font);
      out.Byte(static_cast<uint8_t>(length));
      out.Raw(chars, length + 1);
    }
  };
  if (r.Flag4 & kNameBlock) writeBlock(r.nameLines.data(), kNameLineCount);
  if (r.Flag4 & kIngredientBlock) writeBlock(r.ingredientLines.data(), kIngredientLineCount);
  if (r.Flag4 & kMessageBlock) writeBlock(r.messageLines.data(), kMessageLineCount);
}

}  // namespace tv
