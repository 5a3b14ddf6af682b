#include "paramserver/paramblock.h"

#include <algorithm>

#include "paramserver/protocol.h"

namespace tv {
namespace {

constexpr size_t kHeaderSize = 17;
constexpr size_t kCountOffset = 16;
constexpr int kStringCount = 4;

size_t TextStart(uint8_t n) { return kHeaderSize + 2 * static_cast<size_t>(n); }

// Takes the bytes before the next ETX and moves past the ETX.
bool TakeString(const uint8_t* data, size_t len, size_t& pos, std::string& out) {
  const uint8_t* end = data + len;
  const uint8_t* etx = std::find(data + pos, end, kETX);
  if (etx == end) return false;
  out.assign(reinterpret_cast<const char*>(data + pos), static_cast<size_t>(etx - (data + pos)));
  pos = static_cast<size_t>(etx - data) + 1;
  return true;
}

// One per-scale section: whatever is left up to n bytes, 0 for the rest.
std::vector<uint8_t> TakeSection(const uint8_t* data, size_t len, size_t& pos, uint8_t n) {
  std::vector<uint8_t> section(n, 0);
  size_t take = std::min<size_t>(n, len - pos);
  std::copy_n(data + pos, take, section.begin());
  pos += take;
  return section;
}

std::string AddressPrefix(const uint8_t* bytes) {
  std::string prefix;
  for (int i = 0; i < 3; ++i) prefix += std::to_string(bytes[i]) + ".";
  return prefix;
}

void DecodeHeader(const uint8_t* data, TParamBlock& out) {
  out.VerInterval = data[2] | (data[3] << 8);
  out.BarcodeFormat = data[4];
  out.LFormat = data[5];
  out.LabelWidth = data[6];
  out.INGRFontSize = data[7];
  out.SMessFontSize = data[8];
  out.m_iNameAlgorithm = data[9] != 0 ? 1 : 0;
  out.IPAdress = AddressPrefix(data + 10);
  out.TextToOEM = data[13];
  out.LongBarCode = data[14];
  out.ImportType = data[15];
  out.TotalNumber = data[kCountOffset];
}

}  // namespace

bool DecodeBlock(const uint8_t* data, size_t len, TParamBlock& out) {
  if (len < kHeaderSize) return false;
  const uint8_t n = data[kCountOffset];
  const size_t textStart = TextStart(n);
  if (len < textStart || len - textStart > kMaxTextPart) return false;

  TParamBlock block;
  DecodeHeader(data, block);
  block.ScaleNumbers.assign(data + kHeaderSize, data + kHeaderSize + n);
  block.DeviceTypes.assign(data + kHeaderSize + n, data + textStart);

  size_t pos = textStart;
  if (!TakeString(data, len, pos, block.ExportDir) || !TakeString(data, len, pos, block.LogoDir) ||
      !TakeString(data, len, pos, block.FileMask) || !TakeString(data, len, pos, block.BarPrefix))
    return false;
  block.BarcodeTypes = TakeSection(data, len, pos, n);
  block.UseByInDays = TakeSection(data, len, pos, n);
  block.ConstBC = TakeSection(data, len, pos, n);
  out = std::move(block);
  return true;
}

std::optional<size_t> FullBlockLength(const uint8_t* data, size_t len) {
  if (len < kHeaderSize) return std::nullopt;
  const uint8_t n = data[kCountOffset];
  size_t pos = TextStart(n);
  for (int i = 0; i < kStringCount; ++i) {
    if (pos >= len) return std::nullopt;
    const uint8_t* etx = std::find(data + pos, data + len, kETX);
    if (etx == data + len) return std::nullopt;
    pos = static_cast<size_t>(etx - data) + 1;
  }
  return pos + 3 * static_cast<size_t>(n) + 1;
}

TBlockStatus AssessReceivedBlock(const uint8_t* data, size_t len, bool singleReceive) {
  if (len == 0) return TBlockStatus::Incomplete;
  const bool endsInEot = data[len - 1] == kEOT;
  if (singleReceive && endsInEot) return TBlockStatus::Complete;
  if (len >= kHeaderSize && len > TextStart(data[kCountOffset]) + kMaxTextPart)
    return TBlockStatus::Invalid;
  const std::optional<size_t> full = FullBlockLength(data, len);
  if (!full) return TBlockStatus::Incomplete;
  if (*full - TextStart(data[kCountOffset]) > kMaxTextPart) return TBlockStatus::Invalid;
  if (len < *full) return TBlockStatus::Incomplete;
  return len == *full && endsInEot ? TBlockStatus::Complete : TBlockStatus::Invalid;
}

}  // namespace tv
