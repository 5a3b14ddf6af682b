// The ledger's share of one scale's delivery of 10,000 goods records: its
// in-flight mark and its record of what was acknowledged, on a real file in
// a temporary directory.  Three cases, records per second each:
//   unchanged  the scale already holds these very records (a price list
//              sent again, or the goods a price change leaves alone);
//   changed    every record differs from what the scale holds;
//   new scale  the records are stored already (another scale of the profile
//              took them), the scale holds nothing yet.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ledger.h"

namespace {

constexpr int kGoods = 10000;

std::vector<std::vector<uint8_t>> Records(int price) {
  std::vector<std::vector<uint8_t>> out;
  for (int g = 1; g <= kGoods; ++g) {
    std::vector<uint8_t> b(90, 0x20);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(g >> (8 * i));
    for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<uint8_t>((g * 3 + price) >> (8 * i));
    out.push_back(std::move(b));
  }
  return out;
}

std::vector<tv::platform::LedgerChange> Changes(const std::vector<std::vector<uint8_t>>& records) {
  std::vector<tv::platform::LedgerChange> out;
  for (int g = 1; g <= kGoods; ++g) out.push_back({g, records[g - 1].data(), records[g - 1].size()});
  return out;
}

class TempLedger {
 public:
  TempLedger() {
    char tmpl[] = "/tmp/bench_ledger.XXXXXX";
    dir_ = mkdtemp(tmpl);
    if (!ledger.Open(dir_ + "/ledger.db").ok()) dir_.clear();
  }
  ~TempLedger() {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  bool Ok() const { return !dir_.empty(); }
  tv::platform::Ledger ledger;

 private:
  std::string dir_;
};

enum Case { kUnchanged, kChanged, kNewScale };

void BM_LedgerDelivery(benchmark::State& state) {
  const auto what = static_cast<Case>(state.range(0));
  const auto a = Records(0), b = Records(1);
  const auto changesA = Changes(a), changesB = Changes(b);
  TempLedger t;
  if (!t.Ok()) return state.SkipWithError("ledger not opened");
  int scale = 1;
  if (!t.ledger.Begin(scale).ok() || !t.ledger.Record(scale, "a.txt", 1, changesA).ok())
    return state.SkipWithError("first delivery not recorded");
  int64_t n = 0;
  for (auto _ : state) {
    ++n;
    if (what == kNewScale) ++scale;
    const bool useB = what == kChanged && n % 2 == 1;
    const auto& changes = useB ? changesB : changesA;
    if (!t.ledger.Begin(scale).ok() ||
        !t.ledger.Record(scale, useB ? "b.txt" : "a.txt", n, changes).ok())
      return state.SkipWithError("delivery not recorded");
  }
  state.SetItemsProcessed(n * kGoods);
}
BENCHMARK(BM_LedgerDelivery)
    ->ArgName("unchanged0_changed1_newscale2")
    ->Arg(kUnchanged)
    ->Arg(kChanged)
    ->Arg(kNewScale)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
