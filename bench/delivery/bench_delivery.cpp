// bench_delivery: how close the real service comes to the protocol's bound.
//
// The scale protocol waits for a one-byte answer after every frame, so a
// delivery cannot be faster than one round trip per frame.  This program
// measures the tovalink binary against that floor, side by side: the
// service delivers a goods file to scales played by an acking scale process
// (ackscale.h), and a bare client (bareclient.h) sends the very frames the
// service sent (dumped at scale 1) to a fresh scale process.  Runs alternate
// service, bare, service, bare ..., and every figure is a ratio of the two
// runs of a pair, given as min and median: the machine's load moves both.
//
// Figures:
//   ratio      service cycle (first accept at a scale -> the delivery log
//              holds every scale's line) / bare client (first connect ->
//              last close), --lines A lines to 10 scales; unpinned, and
//              with the service, the scales and the bare client all pinned
//              to one CPU, --cpu (no cross-CPU wake-ups; on a shared machine
//              pick the CPU others use least).
//   CPU/frame  CPU of the service process / of the bare client per frame
//              (pinned runs; /proc ticks of 10 ms, so use enough lines).
//   batch      a --small line file to --small-scales scales: service time
//              per batch of 10 scales / bare time per batch.
// With --new-prices every service run of the ratio gets the same goods at
// other prices than the run before, so that each scale's ledger takes every
// record anew (a price change of the whole list); without it the file is the
// same each time and the ledger finds nothing to write.
//
// Unpinned figures depend on where the kernel puts each client thread and
// its scale thread: a pair placed on two CPUs tends to stay there for the
// whole delivery, every frame then costs a cross-CPU wake-up and the run
// takes up to twice as long.  Which runs suffer depends on how the
// processes were started, not on the sending code: a bare client looped in
// one process does it from its second delivery on, while with this
// program's own scale process, forked fresh for each run from this quiet
// process, neither side does.  Real scales are other machines, so none of
// this reaches a shop; a harness that shows it measures the placement.
//
// A plain program rather than Google Benchmark: every sample is a pair of
// multi-second runs of two other processes, and the result is their ratio,
// which the benchmark library's repeat-one-callable model does not express.
//
// It opens sockets, so it runs in a network namespace of its own with only
// loopback: started elsewhere it re-executes itself through
// scripts/netns-run.  Not part of ctest: timings are no test.
//
// usage: bench_delivery [--pairs N] [--lines N] [--small N] [--small-scales N]
//                       [--cpu N] [--binary PATH] [--work DIR] [--keep] [--new-prices]
// Defaults: 5 pairs, 10000 lines, 100 lines to 50 scales, the last CPU this
// process may use, the tovalink of this build tree.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ackscale.h"
#include "bareclient.h"
#include "goodsfile.h"
#include "proc.h"
#include "service.h"

namespace tv::bench {
namespace {

constexpr int kPortBase = 5000;

struct TOptions {
  int pairs = 5;
  int lines = 10000;
  int small = 100;
  int smallScales = 50;
  int cpu = -1;  // for the pinned runs; -1: the last allowed
  std::string binary = TOVALINK_BINARY_DIR "/tovalink";
  std::string work;
  bool keep = false;
  bool newPrices = false;
};

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: bench_delivery [--pairs N] [--lines N] [--small N] [--small-scales N]\n"
               "                      [--cpu N] [--binary PATH] [--work DIR] [--keep] [--new-prices]\n");
  std::exit(2);
}

TOptions ParseOptions(int argc, char** argv) {
  TOptions o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--keep") {
      o.keep = true;
      continue;
    }
    if (a == "--new-prices") {
      o.newPrices = true;
      continue;
    }
    if (i + 1 >= argc) Usage();
    std::string v = argv[++i];
    if (a == "--pairs")
      o.pairs = std::atoi(v.c_str());
    else if (a == "--lines")
      o.lines = std::atoi(v.c_str());
    else if (a == "--small")
      o.small = std::atoi(v.c_str());
    else if (a == "--small-scales")
      o.smallScales = std::atoi(v.c_str());
    else if (a == "--cpu")
      o.cpu = std::atoi(v.c_str());
    else if (a == "--binary")
      o.binary = v;
    else if (a == "--work")
      o.work = v;
    else
      Usage();
  }
  if (o.pairs < 1 || o.lines < 1 || o.small < 1 || o.smallScales < 1 || o.smallScales > kMaxScales)
    Usage();
  if (o.cpu >= 0 && !AllowedCpus().count(o.cpu)) Usage();
  return o;
}

struct TFigure {
  std::string name;
  std::vector<double> values;
  std::string unit;
};

class TReport {
 public:
  void Add(std::string name, std::vector<double> values, std::string unit) {
    figures_.push_back({std::move(name), std::move(values), std::move(unit)});
  }
  void Print() const {
    std::printf("\n%-62s %10s %10s  %s\n", "figure", "min", "median", "runs");
    for (const TFigure& f : figures_) {
      std::vector<double> v = f.values;
      std::sort(v.begin(), v.end());
      double median = v.empty()      ? 0
                      : v.size() % 2 ? v[v.size() / 2]
                                     : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
      std::printf("%-62s %10.3f %10.3f  ", (f.name + " (" + f.unit + ")").c_str(),
                  v.empty() ? 0 : v.front(), median);
      for (double x : f.values) std::printf("%.3f ", x);
      std::printf("\n");
    }
  }

 private:
  std::vector<TFigure> figures_;
};

struct TSide {
  double seconds = 0;
  double cpuS = 0;
};

class TBench {
 public:
  TBench(const TOptions& o, const std::string& work)
      : o_(o), work_(work), service_(o.binary, work) {}

  bool Prepare() {
    if (!service_.Configure(std::max(10, o_.smallScales), 10, kPortBase) || !service_.Start()) {
      std::fprintf(stderr, "bench_delivery: the service did not start (see %s/service.log)\n",
                   work_.c_str());
      return false;
    }
    return true;
  }

  void DeliveryBound(TReport& report) {
    const std::string data = GoodsFile(o_.lines, 0);
    TFrames frames;
    if (!Capture(data, 10, frames)) return;
    const double perFrame = 1e6 / (10.0 * static_cast<double>(frames.frames.size()));
    std::printf("%zu frames per scale, 10 scales\n", frames.frames.size());
    for (bool pinned : {false, true}) {
      std::set<int> cpus;
      if (pinned) cpus = {o_.cpu >= 0 ? o_.cpu : *AllowedCpus().rbegin()};
      std::vector<double> svcS, bareS, ratio, svcCpu, bareCpu, cpuRatio;
      for (int i = 0; i < o_.pairs; ++i) {
        const std::string run = o_.newPrices ? GoodsFile(o_.lines, 0, ++priceChanges_) : data;
        std::optional<TSide> s = ServiceRun(run, 10, cpus), b = BareRun(frames, 10, cpus);
        if (!s || !b) return;
        svcS.push_back(s->seconds);
        bareS.push_back(b->seconds);
        ratio.push_back(s->seconds / b->seconds);
        svcCpu.push_back(s->cpuS * perFrame);
        bareCpu.push_back(b->cpuS * perFrame);
        cpuRatio.push_back(s->cpuS / b->cpuS);
      }
      const std::string how = pinned ? "pinned to one CPU" : "unpinned";
      report.Add("service cycle, " + how, svcS, "s");
      report.Add("bare client, " + how, bareS, "s");
      report.Add("service/bare, " + std::to_string(o_.lines) + " lines, " + how, ratio, "x");
      report.Add("CPU per frame, service, " + how, svcCpu, "us");
      report.Add("CPU per frame, bare client, " + how, bareCpu, "us");
      report.Add("CPU service/bare, " + how, cpuRatio, "x");
    }
  }

  void SmallFiles(TReport& report) {
    const int n = o_.smallScales;
    if (!service_.SetScaleCount(n)) return;
    const std::string data = GoodsFile(o_.small, 11);
    TFrames frames;
    if (!Capture(data, n, frames)) return;
    const double batches = (n + 9) / 10;
    std::vector<double> service, bare, ratio;
    for (int i = 0; i < o_.pairs; ++i) {
      std::optional<TSide> s = ServiceRun(data, n, {}), b = BareRun(frames, n, {});
      if (!s || !b) return;
      service.push_back(s->seconds / batches * 1e3);
      bare.push_back(b->seconds / batches * 1e3);
      ratio.push_back(s->seconds / b->seconds);
    }
    const std::string what =
        std::to_string(o_.small) + " lines to " + std::to_string(n) + " scales";
    report.Add("time per batch of 10, service, " + what, service, "ms");
    report.Add("time per batch of 10, bare client, " + what, bare, "ms");
    report.Add("batch service/bare, " + what, ratio, "x");
    service_.SetScaleCount(10);
  }

  void Finish() { service_.Stop(); }

 private:
  // One untimed delivery whose frames at scale 1 the bare client replays.
  bool Capture(const std::string& data, int scales, TFrames& frames) {
    const std::string dump = work_ + "/frames.bin";
    TAckScales ack;
    TAckScalesOptions options{scales, kPortBase, {}, dump};
    if (!ack.Start(options)) return Fail("the acking scales did not start");
    TDelivery d = service_.Deliver(data);
    if (!d.ok || !WaitClosed(ack, scales)) return Fail("the capture delivery failed");
    ack.Stop();
    return LoadFrames(dump, frames) || Fail("no frames captured");
  }

  std::optional<TSide> ServiceRun(const std::string& data, int scales, const std::set<int>& cpus) {
    TAckScales ack;
    if (!ack.Start({scales, kPortBase, cpus, {}})) return Failed("the acking scales did not start");
    if (!cpus.empty()) PinProcess(service_.Pid(), cpus);
    TDelivery d = service_.Deliver(data);
    if (!cpus.empty()) PinProcess(service_.Pid(), {});
    if (!d.ok || !WaitClosed(ack, scales)) return Failed("a service delivery failed");
    TSide side{static_cast<double>(d.logNs - ack.FirstAcceptNs(scales)) / 1e9, d.cpuS};
    return side;
  }

  std::optional<TSide> BareRun(const TFrames& frames, int scales, const std::set<int>& cpus) {
    TAckScales ack;
    if (!ack.Start({scales, kPortBase, cpus, {}})) return Failed("the acking scales did not start");
    TBareRun r = RunBareClient(frames, scales, kPortBase, cpus);
    if (!r.ok) return Failed("a bare delivery failed");
    return TSide{r.elapsedS, r.cpuS};
  }

  // The scale process stamps a close after the service logged it.
  static bool WaitClosed(const TAckScales& ack, int scales) {
    const int64_t deadline = MonotonicNs() + 10LL * 1000000000;
    while (!ack.AllClosed(scales, 1)) {
      if (MonotonicNs() > deadline) return false;
      usleep(1000);
    }
    return true;
  }

  static bool Fail(const char* what) {
    std::fprintf(stderr, "bench_delivery: %s\n", what);
    return false;
  }
  static std::optional<TSide> Failed(const char* what) {
    Fail(what);
    return std::nullopt;
  }

  const TOptions& o_;
  const std::string work_;
  int priceChanges_ = 0;
  TService service_;
};

int Run(const TOptions& o) {
  const std::string work = WorkDirectory(o.work, "tv-bench-delivery");
  if (work.empty()) return 1;
  TReport report;
  {
    TBench bench(o, work);
    if (!bench.Prepare()) return 1;
    bench.DeliveryBound(report);
    bench.SmallFiles(report);
    bench.Finish();
  }
  report.Print();
  if (!o.keep) std::filesystem::remove_all(work);
  return 0;
}

}  // namespace
}  // namespace tv::bench

int main(int argc, char** argv) {
  tv::bench::TOptions options = tv::bench::ParseOptions(argc, argv);
  if (!tv::bench::InLoopbackNamespace("bench_delivery", TOVALINK_NETNS_RUN, argc, argv)) return 1;
  return tv::bench::Run(options);
}
