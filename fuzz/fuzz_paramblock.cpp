// Parameter block bytes -> decoded block.  Properties: a decoded block has
// N entries in every table and the header's values; written back out it
// decodes to the same block; a complete block reads as Complete, and every
// shorter prefix of it, gathered over several receives, as Incomplete.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzzcheck.h"
#include "paramblock_encoder.h"
#include "paramserver/paramblock.h"
#include "paramserver/protocol.h"

namespace {

using tv::TBlockStatus;

constexpr size_t kHeaderSize = 17;

size_t TextStart(const std::vector<uint8_t>& block) { return kHeaderSize + 2 * size_t{block[16]}; }

// The prefixes worth asking about: the edges of every field and a spread
// of others.  Checking every prefix would make a long block quadratic.
std::vector<size_t> SamplePrefixes(const std::vector<uint8_t>& block) {
  std::vector<size_t> cuts = {0, 1, kHeaderSize - 1, kHeaderSize, TextStart(block), block.size() - 1};
  for (size_t i = TextStart(block); i < block.size(); ++i)
    if (block[i] == tv::kETX) cuts.insert(cuts.end(), {i, i + 1});
  const size_t step = block.size() / 16 + 1;
  for (size_t i = 0; i < block.size(); i += step) cuts.push_back(i);
  return cuts;
}

void CheckComplete(const std::vector<uint8_t>& block) {
  const bool fits = block.size() - TextStart(block) <= tv::kMaxTextPart;
  const auto full = tv::FullBlockLength(block.data(), block.size());
  FUZZ_CHECK(full && *full == block.size());
  FUZZ_CHECK(tv::AssessReceivedBlock(block.data(), block.size(), false) ==
             (fits ? TBlockStatus::Complete : TBlockStatus::Invalid));
  FUZZ_CHECK(tv::AssessReceivedBlock(block.data(), block.size(), true) == TBlockStatus::Complete);
  if (!fits) return;
  for (size_t cut : SamplePrefixes(block)) {
    if (cut >= block.size()) continue;
    FUZZ_CHECK(tv::AssessReceivedBlock(block.data(), cut, false) == TBlockStatus::Incomplete);
  }
  tv::TParamBlock decoded;
  FUZZ_CHECK(tv::DecodeBlock(block.data(), block.size(), decoded));
  // The decoder normalises only m_iNameAlgorithm and ignores the reserved bytes.
  std::vector<uint8_t> again = tv::fuzz::EncodeBlock(decoded, block[0] | (block[1] << 8));
  std::vector<uint8_t> expected = block;
  expected[9] = expected[9] != 0;
  FUZZ_CHECK(again == expected);
}

void CheckDecoded(const uint8_t* data, size_t size, const tv::TParamBlock& b) {
  const size_t n = data[16];
  FUZZ_CHECK(b.TotalNumber == static_cast<int32_t>(n));
  for (const auto* table : {&b.ScaleNumbers, &b.DeviceTypes, &b.BarcodeTypes, &b.UseByInDays, &b.ConstBC})
    FUZZ_CHECK(table->size() == n);
  FUZZ_CHECK(std::equal(b.ScaleNumbers.begin(), b.ScaleNumbers.end(), data + kHeaderSize));
  FUZZ_CHECK(b.VerInterval == (data[2] | (data[3] << 8)));
  FUZZ_CHECK(b.m_iNameAlgorithm == (data[9] != 0));
  FUZZ_CHECK(b.TextToOEM == data[13] && b.LongBarCode == data[14] && b.ImportType == data[15]);
  uint8_t address[3];
  FUZZ_CHECK(tv::fuzz::AddressBytes(b.IPAdress, address));
  FUZZ_CHECK(std::equal(address, address + 3, data + 10));
  for (const auto* text : {&b.ExportDir, &b.LogoDir, &b.FileMask, &b.BarPrefix})
    FUZZ_CHECK(text->find(static_cast<char>(tv::kETX)) == std::string::npos);
  FUZZ_CHECK(size - (kHeaderSize + 2 * n) <= tv::kMaxTextPart);

  // Whatever was decoded, its complete form decodes to the same block.
  std::vector<uint8_t> complete = tv::fuzz::EncodeBlock(b);
  tv::TParamBlock again;
  FUZZ_CHECK(tv::DecodeBlock(complete.data(), complete.size(), again) ==
             (complete.size() - TextStart(complete) <= tv::kMaxTextPart));
  if (complete.size() - TextStart(complete) <= tv::kMaxTextPart) FUZZ_CHECK(tv::fuzz::SameBlock(b, again));
  CheckComplete(complete);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tv::TParamBlock block;
  const bool decoded = tv::DecodeBlock(data, size, block);
  if (decoded) CheckDecoded(data, size, block);
  if (size < kHeaderSize) {
    FUZZ_CHECK(!decoded);
    return 0;
  }

  // The input's own complete block, when it starts one.
  const auto full = tv::FullBlockLength(data, size);
  if (full && *full <= size && data[*full - 1] == tv::kEOT)
    CheckComplete(std::vector<uint8_t>(data, data + *full));

  // Bytes from one receive count when they end in EOT, never otherwise.
  const TBlockStatus single = tv::AssessReceivedBlock(data, size, true);
  FUZZ_CHECK((single == TBlockStatus::Complete) == (data[size - 1] == tv::kEOT));
  return 0;
}
