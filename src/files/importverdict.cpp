#include "files/importverdict.h"

#include <algorithm>
#include <array>

#include "files/importtype.h"

namespace tv {
namespace {

// Fewer than this many of one separator in a goods line is no sign: a
// name or a price may hold one or two.
constexpr size_t kTelling = 3;

struct Count {
  char separator;
  size_t count;
};

Count MostFrequentSeparator(const std::string& line) {
  Count best{0, 0};
  for (char c : std::array<char, 4>{';', ',', '\t', '|'}) {
    const auto n = static_cast<size_t>(std::count(line.begin(), line.end(), c));
    if (n > best.count) best = {c, n};
  }
  return best;
}

std::string Shown(char c) { return c == '\t' ? std::string("TAB") : "'" + std::string(1, c) + "'"; }

}  // namespace

bool NoGoodsReadable(const TSkippedLines& skips, size_t encodedGoods) {
  return skips.goodsLines > 0 && encodedGoods == 0;
}

std::string LikelyLayoutMismatch(const TSkippedLines& skips, int importType, char listSeparator) {
  const Count most = MostFrequentSeparator(skips.firstGoods);
  if (most.count < kTelling) return {};
  if (importType == itFixed) return "the lines look delimited, ImportType 0 reads fixed columns";
  const auto own = static_cast<size_t>(
      std::count(skips.firstGoods.begin(), skips.firstGoods.end(), listSeparator));
  if (most.separator == listSeparator || own >= most.count) return {};
  return "the lines look " + Shown(most.separator) + "-separated, ImportType " +
         std::to_string(importType) + " splits at " + Shown(listSeparator);
}

std::string UnreadableGoodsReason(const TSkippedLines& skips, int importType, char listSeparator) {
  std::string reason = "none of its " + std::to_string(skips.goodsLines) + " A line" +
                       (skips.goodsLines == 1 ? "" : "s") + " can be read, nothing is sent";
  const std::string cause = LikelyLayoutMismatch(skips, importType, listSeparator);
  if (!cause.empty()) return reason + ": " + cause;
  if (skips.skipped > 0)
    reason += ": first skipped: line " + std::to_string(skips.firstLine) + ", " + skips.firstReason;
  return reason;
}

}  // namespace tv
