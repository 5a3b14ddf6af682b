// tovalink-scalesim: plays one or many scales on loopback for manual trials
// of the service and writes every frame they receive as a JSON line.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/signals.h"
#include "scalesim/options.h"
#include "scalesim/sim_scale.h"

namespace {

// One writer for all scales, so lines never interleave; a file is appended
// to line by line so a reader sees each line complete as soon as it exists.
class LineWriter {
 public:
  explicit LineWriter(std::string path) : path_(std::move(path)) {}
  bool Open() { return path_.empty() || tv::platform::Env::Default()->WriteFile(path_, "").ok(); }
  void Write(const std::string& line) {
    std::lock_guard<std::mutex> lock(mu_);
    if (path_.empty()) {
      std::fputs((line + "\n").c_str(), stdout);
      std::fflush(stdout);
    } else {
      tv::platform::Env::Default()->AppendFile(path_, line + "\n");
    }
  }

 private:
  std::string path_;
  std::mutex mu_;
};

}  // namespace

int main(int argc, char** argv) {
  tv::sim::SimOptions options;
  std::string error;
  if (!tv::sim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "tovalink-scalesim: %s\n%s", error.c_str(), tv::sim::kSimUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(tv::sim::kSimUsage, stdout);
    return 0;
  }
  tv::platform::BlockTerminationSignals();
  LineWriter writer(options.outFile);
  if (!writer.Open()) {
    std::fprintf(stderr, "tovalink-scalesim: cannot write %s\n", options.outFile.c_str());
    return 1;
  }
  std::vector<std::unique_ptr<tv::sim::SimScale>> scales;
  for (int n : options.scales) {
    std::string address = options.prefix + std::to_string(n);
    uint16_t base = static_cast<uint16_t>(options.portBase + n);
    uint16_t goods = options.sm700Only ? 0 : base;
    uint16_t sm700 = options.sm700Only ? base
                     : options.sm700Base ? static_cast<uint16_t>(options.sm700Base + n)
                                         : 0;
    auto scale = std::make_unique<tv::sim::SimScale>(address, goods, sm700, options.BehaviourOf(n));
    scale->SetLineSink([&writer](const std::string& line) { writer.Write(line); });
    if (!scale->Start()) {
      std::fprintf(stderr, "tovalink-scalesim: cannot listen at %s (goods %u, sm700 %u)\n",
                   address.c_str(), goods, sm700);
      return 1;
    }
    std::fprintf(stderr, "tovalink-scalesim: scale %d at %s goods %u sm700 %u\n", n,
                 address.c_str(), goods, sm700);
    scales.push_back(std::move(scale));
  }
  int sig = tv::platform::WaitForTerminationSignal();
  std::fprintf(stderr, "tovalink-scalesim: signal %d, stopping\n", sig);
  for (auto& s : scales) s->Stop();
  return 0;
}
