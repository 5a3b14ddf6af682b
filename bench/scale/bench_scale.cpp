// Cost of turning one typical goods line into its goods frame, and proof
// that no frame allocates: every operator new in the measured loop counts.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "scale/clntsock.h"

namespace {

std::atomic<long> allocations{0};

}  // namespace

// The replacements pair malloc with free; GCC cannot see that they match.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

struct Setup {
  tv::TEngineSettings settings;
  tv::TLineLists lists;
  std::unique_ptr<tv::TScaleClnt> client;

  Setup(uint8_t importType, const std::string& key, const std::string& text) {
    settings.ImportType = importType;
    settings.INGRROWCount = 7;
    settings.SMESSROWCount = 3;
    settings.INGRCOLCount = 40;
    settings.SMESSCOLCount = 40;
    settings.MaxMessRowCount = 8;
    lists.iValues.Set(key, text);
    tv::platform::Regional host;
    host.listSeparator = ';';
    host.decimalSeparator = '.';
    tv::TScaleClntContext context{std::make_shared<const tv::TEngineSettings>(settings), &lists,
                                  host, nullptr};
    client = std::make_unique<tv::TScaleClnt>(false, false, true, tv::TScaleType::Bench, "22",
                                              "127.0.0.5", 58, 3, 2, 5, 17, 3005, 0, 0, false,
                                              false, context);
  }
};

void RunLine(benchmark::State& state, Setup& s, const std::string& line) {
  // Warm the reused strings up to their working size first.
  if (!s.client->PrepareGoodsRecord(line) || s.client->FrameGoodsRecord() == 0) {
    state.SkipWithError("line yields no frame");
    return;
  }
  long before = allocations.load();
  for (auto _ : state) {
    bool ok = s.client->PrepareGoodsRecord(line);
    size_t length = s.client->FrameGoodsRecord();
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(length);
  }
  state.counters["allocs/record"] = benchmark::Counter(
      static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations()));
}

void BM_DelimitedGoodsLine(benchmark::State& state) {
  Setup s(1, "000123", "Wheat flour;Sugar;Butter;Eggs;Salt;Best before see label;");
  RunLine(state, s, ";2001234;000123;x;x;0;0;12.35;5;x;Apple pie with cinnamon and sugar");
}
BENCHMARK(BM_DelimitedGoodsLine);

void BM_FixedGoodsLine(benchmark::State& state) {
  Setup s(0, "000000000000123", "Wheat flour\x03Sugar\x03Butter\x03");
  std::string line = "200123400000000000000000123r1r1r2r200    1.50  5r3r3";
  line += "Apple pie with cinnamon and sugar";
  line.resize(132, ' ');
  RunLine(state, s, line);
}
BENCHMARK(BM_FixedGoodsLine);

}  // namespace

BENCHMARK_MAIN();
