// A parameter block as sent after BEL, decoded into the settings it carries.
//
// Layout (integers little-endian): 2 reserved, 2 VerInterval, BarcodeFormat,
// LFormat, LabelWidth, INGRFontSize, SMessFontSize, m_iNameAlgorithm, three
// address bytes, TextToOEM, LongBarCode, ImportType, N; N scale numbers, N
// device types; then the text part: ExportDir, LogoDir, FileMask and
// BarPrefix each ended by ETX, N barcode types, N use-by-in-days flags, N
// constant-barcode flags, EOT.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tv {

struct TParamBlock {
  int32_t VerInterval = 0;
  int32_t LabelWidth = 0;
  int32_t BarcodeFormat = 0;
  int32_t TotalNumber = 0;
  int32_t LFormat = 0;
  int32_t INGRFontSize = 0;
  int32_t SMessFontSize = 0;
  std::string ExportDir;
  std::string LogoDir;
  std::string FileMask;
  std::string IPAdress;
  std::string BarPrefix;
  uint8_t m_iNameAlgorithm = 0;  // 0 or 1
  uint8_t TextToOEM = 0;         // the byte as sent
  uint8_t LongBarCode = 0;       // the byte as sent
  int32_t ImportType = 0;
  // One entry per scale, TotalNumber entries each.
  std::vector<uint8_t> ScaleNumbers;
  std::vector<uint8_t> DeviceTypes;
  std::vector<uint8_t> BarcodeTypes;
  std::vector<uint8_t> UseByInDays;
  std::vector<uint8_t> ConstBC;
};

// Decodes `len` bytes.  False when the header or the two tables are cut
// short, the text part exceeds kMaxTextPart or one of the four ETX is
// missing.  A per-scale section that finds fewer than N bytes left takes
// what there is (the closing EOT counts as data) and the missing entries
// are 0; a section that finds nothing left is all 0.
bool DecodeBlock(const uint8_t* data, size_t len, TParamBlock& out);

// The length of the whole block whose start is in `data`: the header, both
// tables, four strings, three full per-scale sections and the EOT.  Empty
// while the bytes so far do not reach the fourth ETX.
std::optional<size_t> FullBlockLength(const uint8_t* data, size_t len);

enum class TBlockStatus { Complete, Incomplete, Invalid };

// Whether the `len` bytes received so far after BEL form a block.  Bytes
// from one single receive that end in EOT are taken as they are, so the
// short forms work as always.  Bytes gathered over several receives count
// only as the whole block; they are Invalid once they run past its end or
// its text part cannot fit kMaxTextPart.
TBlockStatus AssessReceivedBlock(const uint8_t* data, size_t len, bool singleReceive);

}  // namespace tv
