// Goods file parsing throughput against a plain read of the same file, so a
// regression in the line reader shows up as a widening gap.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "files/fileproc.h"
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
    if (!tv::platform::WriteWholeFile(path_, data_)) std::abort();
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
    if (!tv::platform::ReadWholeFile(File().path(), data)) state.SkipWithError("read failed");
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

}  // namespace

BENCHMARK_MAIN();
