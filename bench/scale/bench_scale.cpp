// Cost of turning one typical goods line into its goods frame, and proof
// that no frame allocates: every operator new in the measured loop counts.
// A whole file encoded into a reused TEncodedFile shows what the export
// cycle pays per record, its per-file set-up included.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/allocations.h"
#include "scale/encodedfile.h"
#include "scale/goodsencoder.h"

namespace {

struct Setup {
  tv::TScaleProfile profile;
  tv::TLineLists lists;
  tv::platform::Regional host;
  std::unique_ptr<tv::TGoodsEncoder> encoder;

  Setup(uint8_t importType, const std::string& key, const std::string& text) {
    profile.ImportType = importType;
    profile.INGRROWCount = 7;
    profile.SMESSROWCount = 3;
    profile.INGRCOLCount = 40;
    profile.SMESSCOLCount = 40;
    profile.MaxMessRowCount = 8;
    profile.TextToOEM = true;
    profile.ScaleType = tv::TScaleType::Bench;
    profile.BarPrefix = "22";
    profile.LabelWidth = 58;
    profile.IngredientFont = 3;
    profile.MessageFont = 2;
    profile.BarcodeType = 5;
    profile.LabelFormat = 17;
    lists.iValues.Set(key, text);
    host.listSeparator = ';';
    host.decimalSeparator = '.';
    encoder = std::make_unique<tv::TGoodsEncoder>(profile, lists.iValues, host);
  }
};

void RunLine(benchmark::State& state, Setup& s, const std::string& line) {
  // Warm the reused strings up to their working size first.
  if (!s.encoder->PrepareGoodsRecord(line) || s.encoder->FrameGoodsRecord() == 0) {
    state.SkipWithError("line yields no frame");
    return;
  }
  long before = tv::bench::AllocationCount();
  for (auto _ : state) {
    bool ok = s.encoder->PrepareGoodsRecord(line);
    size_t length = s.encoder->FrameGoodsRecord();
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(length);
  }
  state.counters["allocs/record"] = benchmark::Counter(
      static_cast<double>(tv::bench::AllocationCount() - before) / static_cast<double>(state.iterations()));
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

void BM_EncodeFile(benchmark::State& state) {
  Setup s(1, "000123", "Wheat flour;Sugar;Butter;Eggs;Salt;Best before see label;");
  const int lines = static_cast<int>(state.range(0));
  for (int i = 1; i <= lines; ++i) {
    s.lists.aLines.push_back(s.lists.Keep(";2001234;" + std::to_string(100000 + i) +
                                          ";x;x;0;0;12.35;5;x;Apple pie with cinnamon and sugar"));
  }
  tv::TEncodedFile file;
  tv::EncodeFile(s.lists, s.profile, s.host, file);  // sizes the reused buffers
  if (file.steps.size() != static_cast<size_t>(lines)) {
    state.SkipWithError("lines yield no frames");
    return;
  }
  long before = tv::bench::AllocationCount();
  for (auto _ : state) {
    tv::EncodeFile(s.lists, s.profile, s.host, file);
    benchmark::DoNotOptimize(file.bytes.data());
  }
  const double records = static_cast<double>(state.iterations()) * lines;
  state.counters["allocs/record"] =
      benchmark::Counter(static_cast<double>(tv::bench::AllocationCount() - before) / records);
  state.SetItemsProcessed(static_cast<int64_t>(records));
}
BENCHMARK(BM_EncodeFile)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
