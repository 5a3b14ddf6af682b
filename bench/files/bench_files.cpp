// Goods file parsing throughput against a plain read of the same file, so a
// regression in the line reader shows up as a widening gap; and the parser
// alone on 100,000 lines of each layout, in MB/s, with the allocations it
// makes per line (every operator new counts).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/allocations.h"
#include "files/fileproc.h"
#include "files/importparse.h"
#include "platform/env.h"
#include "platform/fs.h"

namespace {

constexpr int kLines = 100000;

// A goods file of kLines lines in the fixed layout: goods records with an
// ingredient text each, some deletions and one clock line.
std::string MakeGoodsFile() {
  std::string data;
  data.reserve(static_cast<size_t>(kLines) * 100);
  char buf[160];
  for (int i = 0; i < kLines; ++i) {
    int kind = i % 10;
    if (i == kLines - 1) {
      data += "T202403050907\r\n";
    } else if (kind < 5) {
      std::snprintf(buf, sizeof buf, "A%012d%015d00000000" "00" "%08d" "005" "0000%-80s\r\n", 2000000 + i,
                    i, (i * 37) % 100000, "GOODS NAME WITH A FEW WORDS");
      data += buf;
    } else if (kind < 9) {
      std::snprintf(buf, sizeof buf, "I%015dFlour\x03Sugar\x03Salt\x03Water %d\x03\r\n", i, i);
      data += buf;
    } else {
      std::snprintf(buf, sizeof buf, "D%d\r\n", i);
      data += buf;
    }
  }
  return data;
}

class GoodsFile {
 public:
  GoodsFile() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tv-bench-files-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl;
    path_ = dir_ + "/prices.txt";
    data_ = MakeGoodsFile();
    if (!tv::platform::Env::Default()->WriteFile(path_, data_).ok()) std::abort();
  }
  ~GoodsFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& path() const { return path_; }
  size_t size() const { return data_.size(); }

 private:
  std::string dir_, path_, data_;
};

GoodsFile& File() {
  static GoodsFile file;
  return file;
}

void BM_ReadWholeFile(benchmark::State& state) {
  std::string data;
  for (auto _ : state) {
    if (!tv::platform::Env::Default()->ReadFile(File().path(), &data).ok())
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(File().size()));
}
BENCHMARK(BM_ReadWholeFile)->Unit(benchmark::kMillisecond);

void BM_ParseImportFile(benchmark::State& state) {
  tv::TSettingsHolder settings;
  auto s = std::make_shared<tv::TEngineSettings>();
  s->ImportType = static_cast<uint8_t>(state.range(0));
  settings.Set(s);
  tv::CFiles files(settings, tv::platform::Regional{});
  tv::TLineLists lists;
  for (auto _ : state) {
    if (!files.ParseImportFile(File().path(), lists)) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(lists.aLines.data());
  }
  state.counters["aLines"] = static_cast<double>(lists.aLines.size());
  state.counters["iValues"] = static_cast<double>(lists.iValues.Size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(File().size()));
}
BENCHMARK(BM_ParseImportFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// kLines lines of one layout: goods lines, every fourth an I line with an
// ingredient text, every tenth a deletion.
std::string LayoutFile(bool delimited) {
  std::string data;
  data.reserve(static_cast<size_t>(kLines) * 140);
  char buf[200];
  for (int i = 0; i < kLines; ++i) {
    if (i % 10 == 9) {
      std::snprintf(buf, sizeof buf, delimited ? "D;%d\r\n" : "D%d\r\n", i);
    } else if (i % 4 == 3) {
      std::snprintf(buf, sizeof buf,
                    delimited ? "I;%06d;Flour\x03Sugar\x03Salt %d\x03\r\n"
                              : "I%015dFlour\x03Sugar\x03Salt %d\x03\r\n",
                    i, i);
    } else if (delimited) {
      std::snprintf(buf, sizeof buf, "A;%d;%06d;%d.%02d;0;0;5;1;GOODS NAME WITH A FEW WORDS %d\r\n",
                    2000000 + i, i, i % 1000, i % 100, i);
    } else {
      std::snprintf(buf, sizeof buf,
                    "A%012d%015d00000000"
                    "00"
                    "%08d"
                    "005"
                    "0000%-80s\r\n",
                    2000000 + i, i, (i * 37) % 100000, "GOODS NAME WITH A FEW WORDS");
    }
    data += buf;
  }
  return data;
}

// The parse of bytes already in memory, as the cycle hands a read file over.
void BM_ParseLayout(benchmark::State& state) {
  const bool delimited = state.range(0) != 0;
  const std::string data = LayoutFile(delimited);
  tv::TLineLists lists;
  long allocs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string bytes = data;
    state.ResumeTiming();
    long before = tv::bench::AllocationCount();
    if (!tv::ParseImportBytes(std::move(bytes), delimited ? 1 : 0, ';', lists))
      state.SkipWithError("parse failed");
    allocs += tv::bench::AllocationCount() - before;
    benchmark::DoNotOptimize(lists.aLines.data());
  }
  state.counters["lines"] = static_cast<double>(kLines);
  state.counters["allocs/line"] =
      static_cast<double>(allocs) / static_cast<double>(state.iterations()) / kLines;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_ParseLayout)->ArgName("delimited")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
