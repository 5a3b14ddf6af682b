#include "cli/unsentcli.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "decode/json.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "cli/parkedfiles.h"
#include "cli/regcli.h"
#include "cli/scalelist.h"

namespace tv {
namespace {

using platform::Registry;

constexpr const char* kUsage =
    "usage: tovalink unsent list [--scale N] [--json]\n"
    "       tovalink unsent drop --scale N (--all | FILE)\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "tovalink unsent: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

int Fail(const std::string& reason) {
  std::fprintf(stderr, "tovalink unsent: %s\n", reason.c_str());
  return 1;
}

bool ParseScale(const std::string& text, int& out) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::stoi(text);
  return out <= 255;
}

struct Options {
  int scale = -1;  // -1: every scale
  bool json = false;
  bool all = false;
  std::string file;
};

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--scale") {
      if (i + 1 >= argc || !ParseScale(argv[++i], o.scale)) {
        error = "--scale needs a scale number from 0 to 255";
        return false;
      }
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "--all") {
      o.all = true;
    } else if (!arg.empty() && arg[0] != '-' && o.file.empty()) {
      o.file = arg;
    } else {
      error = "unexpected argument '" + arg + "'";
      return false;
    }
  }
  return true;
}

// "45s", "12m05s", "3h07m", "2d04h": the age of a parked file at a glance.
std::string Age(long long seconds) {
  if (seconds < 0) seconds = 0;
  char buf[32];
  if (seconds < 60)
    std::snprintf(buf, sizeof buf, "%llds", seconds);
  else if (seconds < 3600)
    std::snprintf(buf, sizeof buf, "%lldm%02llds", seconds / 60, seconds % 60);
  else if (seconds < 86400)
    std::snprintf(buf, sizeof buf, "%lldh%02lldm", seconds / 3600, seconds % 3600 / 60);
  else
    std::snprintf(buf, sizeof buf, "%lldd%02lldh", seconds / 86400, seconds % 86400 / 3600);
  return buf;
}

struct Listing {
  std::vector<ParkedFile> files;
  std::set<int> listed;  // the scale numbers of the scale list
};

bool Load(const Options& o, Listing& out, std::string& error) {
  NameStore(Registry::DefaultPath());
  Registry reg(StorePathForReading());
  if (!ListParkedFiles(reg, out.files, error)) return false;
  for (const ScaleEntry& s : LoadScaleList(reg)) out.listed.insert(s.number);
  if (o.scale >= 0)
    out.files.erase(std::remove_if(out.files.begin(), out.files.end(),
                                   [&](const ParkedFile& f) { return f.scale != o.scale; }),
                    out.files.end());
  return true;
}

void PrintTable(const Listing& l, std::time_t now) {
  if (l.files.empty()) {
    std::printf("Nothing is parked.\n");
    return;
  }
  std::printf("%-6s %-9s %-8s %10s  %-24s %s\n", "Scale", "Kind", "Age", "Size", "Original", "File");
  for (const ParkedFile& f : l.files) {
    std::printf("%-6d %-9s %-8s %10llu  %-24s %s%s\n", f.scale, f.keyboard ? "keyboard" : "goods",
                Age(static_cast<long long>(now - f.lastWrite)).c_str(), static_cast<unsigned long long>(f.size),
                f.original.empty() ? "-" : f.original.c_str(), f.name.c_str(),
                l.listed.count(f.scale) ? "" : "  (scale not in the list)");
  }
}

void PrintJson(const Listing& l, std::time_t now) {
  std::printf("[");
  for (size_t i = 0; i < l.files.size(); ++i) {
    const ParkedFile& f = l.files[i];
    decode::JsonObject j;
    j.Int("scale", f.scale).Str("kind", f.keyboard ? "keyboard" : "goods").Str("file", f.name);
    j.Str("original", f.original).Int("age_seconds", std::max<long long>(0, now - f.lastWrite));
    j.Int("size", static_cast<int64_t>(f.size)).Bool("in_scale_list", l.listed.count(f.scale) > 0);
    std::printf("%s%s", i ? ",\n " : "\n ", j.Text().c_str());
  }
  std::printf(l.files.empty() ? "]\n" : "\n]\n");
}

int List(const Options& o) {
  if (o.all || !o.file.empty()) return Usage("list takes only --scale and --json");
  Listing l;
  std::string error;
  if (!Load(o, l, error)) return Fail(error);
  const std::time_t now = std::time(nullptr);
  if (o.json)
    PrintJson(l, now);
  else
    PrintTable(l, now);
  return 0;
}

int Drop(const Options& o) {
  if (o.scale < 0) return Usage("drop needs --scale N");
  if (o.all == !o.file.empty()) return Usage("drop needs either --all or one FILE");
  Listing l;
  std::string error;
  if (!Load(o, l, error)) return Fail(error);
  int dropped = 0;
  int failed = 0;
  for (const ParkedFile& f : l.files) {
    if (!o.all && f.name != o.file) continue;
    if (platform::RemoveFile(f.hostPath)) {
      std::printf("dropped %s (scale %d, %s)\n", f.name.c_str(), f.scale,
                  f.original.empty() ? "no original name kept" : f.original.c_str());
      ++dropped;
    } else {
      std::fprintf(stderr, "tovalink unsent: cannot delete %s\n", f.hostPath.c_str());
      ++failed;
    }
  }
  if (!o.all && dropped + failed == 0)
    return Fail("no parked file '" + o.file + "' for scale " + std::to_string(o.scale));
  if (o.all && dropped + failed == 0) std::printf("nothing is parked for scale %d\n", o.scale);
  return failed ? 1 : 0;
}

}  // namespace

int RunUnsentCommand(int argc, char** argv) {
  if (argc < 1) return Usage("a subcommand is needed");
  Options o;
  std::string error;
  if (!ParseOptions(argc, argv, o, error)) return Usage(error);
  const std::string verb = argv[0];
  try {
    if (verb == "list") return List(o);
    if (verb == "drop") return Drop(o);
  } catch (const platform::RegistryError& e) {
    return Fail(StoreErrorText(e));
  }
  return Usage("unknown subcommand '" + verb + "'");
}

}  // namespace tv
