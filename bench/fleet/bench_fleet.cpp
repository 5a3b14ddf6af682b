// bench_fleet: how long a price change takes to reach a whole shop's scales.
//
// --scales scales (255 by default) each take --delay-ms (5) to store a
// record before they answer it, as real scales do; they are played by the
// acking scale process of bench_delivery, one thread per scale.  The real
// service first delivers a --lines (10,000) line goods file, then the same
// list with --changed (200) prices changed, dropped by rename.  Each figure
// is the time from the rename to the last scale's acknowledgement (its
// connection closed after the last answer).  Both deliveries run once with
// the store's defaults and once with DeltaDelivery=1 and
// MaxParallelScales=255; a service that does not know a value ignores it.
//
// It opens sockets, so it runs in a network namespace of its own with only
// loopback: started elsewhere it re-executes itself through
// scripts/netns-run.  Not part of ctest: timings are no test.
//
// usage: bench_fleet [--scales N] [--lines N] [--changed N] [--delay-ms N]
//                    [--only today|tuned] [--binary PATH] [--work DIR] [--keep]
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "ackscale.h"
#include "goodsfile.h"
#include "proc.h"
#include "service.h"

namespace tv::bench {
namespace {

constexpr int kPortBase = 5000;
// Today's batches of 10 take about 25 minutes for the whole list.
constexpr int kDeadlineS = 3600;

struct TOptions {
  int scales = 255;
  int lines = 10000;
  int changed = 200;
  int delayMs = 5;
  std::string only;  // "today", "tuned" or both when empty
  std::string binary = TOVALINK_BINARY_DIR "/tovalink";
  std::string work;
  bool keep = false;
};

struct TSetup {
  const char* name;
  std::vector<std::pair<std::string, uint32_t>> values;
};

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: bench_fleet [--scales N] [--lines N] [--changed N] [--delay-ms N]\n"
               "                   [--only today|tuned] [--binary PATH] [--work DIR] [--keep]\n");
  std::exit(2);
}

TOptions ParseOptions(int argc, char** argv) {
  TOptions o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage();
      return argv[++i];
    };
    if (a == "--scales")
      o.scales = std::atoi(value().c_str());
    else if (a == "--lines")
      o.lines = std::atoi(value().c_str());
    else if (a == "--changed")
      o.changed = std::atoi(value().c_str());
    else if (a == "--delay-ms")
      o.delayMs = std::atoi(value().c_str());
    else if (a == "--only")
      o.only = value();
    else if (a == "--binary")
      o.binary = value();
    else if (a == "--work")
      o.work = value();
    else if (a == "--keep")
      o.keep = true;
    else
      Usage();
  }
  if (o.scales < 1 || o.scales > kMaxScales || o.lines < 1 || o.changed < 0 ||
      o.changed > o.lines || o.delayMs < 0)
    Usage();
  return o;
}

// `changed` lines spread over the list get a new price: the price field
// (8 characters at offset 38 of the fixed layout) is rewritten in place,
// so every other byte of the list stays as it was.
std::string WithPricesChanged(std::string list, int lines, int changed) {
  constexpr size_t kPriceAt = 38;
  std::vector<size_t> starts{0};
  for (size_t at = list.find('\n'); at != std::string::npos; at = list.find('\n', at + 1))
    if (at + 1 < list.size()) starts.push_back(at + 1);
  for (int k = 0; k < changed; ++k) {
    const size_t line = static_cast<size_t>(k) * static_cast<size_t>(lines) / changed;
    char price[16];
    std::snprintf(price, sizeof price, "%08.2f", 1000.0 + k);
    list.replace(starts[line] + kPriceAt, 8, price);
  }
  return list;
}

// The rename to the last scale's close, in seconds; negative on failure.
double Timed(TService& service, TAckScales& scales, int count, const std::string& list) {
  const TDelivery d = service.Deliver(list, kDeadlineS);
  const int64_t last = scales.LastCloseNs(count);
  if (!d.ok || last < d.dropNs) return -1;
  return static_cast<double>(last - d.dropNs) / 1e9;
}

bool RunSetup(const TOptions& o, const TSetup& setup, const std::string& work) {
  mkdir(work.c_str(), 0755);
  TAckScales scales;
  TAckScalesOptions so;
  so.scales = o.scales;
  so.portBase = kPortBase;
  so.delayUs = o.delayMs * 1000;
  TService service(o.binary, work);
  if (!service.Configure(o.scales, o.scales, kPortBase)) {
    std::fprintf(stderr, "bench_fleet: cannot configure the store in %s\n", work.c_str());
    return false;
  }
  for (const auto& [name, value] : setup.values) {
    if (!service.SetValue(name, value))
      std::fprintf(stderr, "bench_fleet: %s=%u not stored (a value this service does not know?)\n",
                   name.c_str(), value);
  }
  if (!scales.Start(so) || !service.Start()) {
    std::fprintf(stderr, "bench_fleet: cannot start the scales or the service\n");
    return false;
  }
  const std::string list = GoodsFile(o.lines, 0);
  const double full = Timed(service, scales, o.scales, list);
  const double change =
      Timed(service, scales, o.scales, WithPricesChanged(list, o.lines, o.changed));
  service.Stop();
  scales.Stop();
  std::printf("%-6s %3d scales, %d ms/record: %6d lines %9.2f s   %4d prices changed %9.2f s\n",
              setup.name, o.scales, o.delayMs, o.lines, full, o.changed, change);
  std::fflush(stdout);
  return full >= 0 && change >= 0;
}

int Run(const TOptions& o) {
  const std::string work = WorkDirectory(o.work, "tovalink-bench-fleet");
  if (work.empty()) return 1;
  const TSetup setups[] = {
      {"today", {}},
      {"tuned", {{"DeltaDelivery", 1}, {"MaxParallelScales", 255}}},
  };
  bool ok = true;
  for (const TSetup& s : setups) {
    if (!o.only.empty() && o.only != s.name) continue;
    ok = RunSetup(o, s, work + "/" + s.name) && ok;
  }
  if (!o.keep) std::filesystem::remove_all(work);
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace tv::bench

int main(int argc, char** argv) {
  tv::bench::TOptions options = tv::bench::ParseOptions(argc, argv);
  if (!tv::bench::InLoopbackNamespace("bench_fleet", TOVALINK_NETNS_RUN, argc, argv)) return 1;
  return tv::bench::Run(options);
}
