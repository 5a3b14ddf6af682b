#include "cli/unsentcli.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "cli/exitcode.h"
#include "cli/options.h"
#include "cli/parkedfiles.h"
#include "cli/regcli.h"
#include "cli/scalelist.h"
#include "decode/json.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/registry.h"

namespace tv {
namespace {

using platform::Registry;

constexpr const char* kUsage =
    "usage: tovalink unsent list [--scale N] [--json]\n"
    "       tovalink unsent drop --scale N (--all | FILE)\n";

// Where a run writes: its output and its errors.
struct Io {
  std::ostream& out;
  std::ostream& err;
};

int Usage(Io io, const std::string& problem) {
  io.err << "tovalink unsent: " << problem << "\n" << kUsage;
  return cli::kExitUsage;
}

int Fail(Io io, const std::string& reason) {
  io.err << "tovalink unsent: " << reason << "\n";
  return cli::kExitFailed;
}

struct Options {
  int scale = -1;  // -1: every scale
  bool json = false;
  bool all = false;
  std::string file;
};

enum : int { kScale = 256, kJson, kAll };

// The words after the subcommand; with kOk, at most one FILE is left.
cli::ParseResult ParseOptions(int argc, char** argv, Options& o) {
  cli::ParseResult r = cli::ParseOptions(
      argc, argv, {{"scale", true, kScale}, {"json", false, kJson}, {"all", false, kAll}},
      [&](int id, const char* value) -> std::string {
        if (id == kJson) o.json = true;
        if (id == kAll) o.all = true;
        if (id == kScale && (!value || !cli::ParseNumber(value, 0, 255, o.scale)))
          return "--scale needs a scale number from 0 to 255";
        return "";
      });
  if (r.outcome == cli::Parsed::kOk && r.positional.size() > 1) {
    r.outcome = cli::Parsed::kProblem;
    r.unexpected = r.positional[1];
  }
  if (r.outcome == cli::Parsed::kOk && !r.positional.empty()) o.file = r.positional[0];
  return r;
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

bool Load(Io io, const Options& o, Listing& out, std::string& error) {
  NameStore(io.err, Registry::DefaultPath());
  Registry reg(StorePathForReading());
  if (!ListParkedFiles(reg, out.files, error)) return false;
  for (const ScaleEntry& s : LoadScaleList(reg)) out.listed.insert(s.number);
  if (o.scale >= 0)
    out.files.erase(std::remove_if(out.files.begin(), out.files.end(),
                                   [&](const ParkedFile& f) { return f.scale != o.scale; }),
                    out.files.end());
  return true;
}

void PrintTable(const Listing& l, std::time_t now, std::ostream& out) {
  if (l.files.empty()) {
    out << "Nothing is parked.\n";
    return;
  }
  out << cli::Format("%-6s %-9s %-8s %10s  %-24s %s\n", "Scale", "Kind", "Age", "Size", "Original",
                     "File");
  for (const ParkedFile& f : l.files) {
    out << cli::Format("%-6d %-9s %-8s %10llu  %-24s ", f.scale, f.keyboard ? "keyboard" : "goods",
                       Age(static_cast<long long>(now - f.lastWrite)).c_str(),
                       static_cast<unsigned long long>(f.size),
                       f.original.empty() ? "-" : f.original.c_str())
        << f.name << (l.listed.count(f.scale) ? "" : "  (scale not in the list)") << "\n";
  }
}

void PrintJson(const Listing& l, std::time_t now, std::ostream& out) {
  out << "[";
  for (size_t i = 0; i < l.files.size(); ++i) {
    const ParkedFile& f = l.files[i];
    decode::JsonObject j;
    j.Int("scale", f.scale).Str("kind", f.keyboard ? "keyboard" : "goods").Str("file", f.name);
    j.Str("original", f.original).Int("age_seconds", std::max<long long>(0, now - f.lastWrite));
    j.Str("parked_at", platform::FormatIso8601(f.lastWrite));
    j.Int("size", static_cast<int64_t>(f.size)).Bool("in_scale_list", l.listed.count(f.scale) > 0);
    out << (i ? ",\n " : "\n ") << j.Text();
  }
  out << (l.files.empty() ? "]\n" : "\n]\n");
}

int List(Io io, const Options& o) {
  if (o.all || !o.file.empty()) return Usage(io, "list takes only --scale and --json");
  if (!ActAsStoreOwner(io.err)) return cli::kExitFailed;
  Listing l;
  std::string error;
  if (!Load(io, o, l, error)) return Fail(io, error);
  const std::time_t now = std::time(nullptr);
  if (o.json)
    PrintJson(l, now, io.out);
  else
    PrintTable(l, now, io.out);
  return cli::kExitDone;
}

int Drop(Io io, const Options& o) {
  if (o.scale < 0) return Usage(io, "drop needs --scale N");
  if (o.all == !o.file.empty()) return Usage(io, "drop needs either --all or one FILE");
  if (!ActAsStoreOwner(io.err)) return cli::kExitFailed;
  Listing l;
  std::string error;
  if (!Load(io, o, l, error)) return Fail(io, error);
  int dropped = 0;
  int failed = 0;
  for (const ParkedFile& f : l.files) {
    // The original name as `list` shows it names every copy parked from it.
    if (!o.all && f.name != o.file && f.original != o.file) continue;
    if (platform::RemoveFile(f.hostPath)) {
      io.out << "dropped " << f.name << " (scale " << f.scale << ", "
             << (f.original.empty() ? "no original name kept" : f.original) << ")\n";
      ++dropped;
    } else {
      io.err << "tovalink unsent: cannot delete " << f.hostPath << "\n";
      ++failed;
    }
  }
  if (!o.all && dropped + failed == 0)
    return Fail(io, "no parked file '" + o.file + "' for scale " + std::to_string(o.scale));
  if (o.all && dropped + failed == 0) io.out << "nothing is parked for scale " << o.scale << "\n";
  return failed ? cli::kExitFailed : cli::kExitDone;
}

}  // namespace

int RunUnsentCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  const Io io{out, err};
  if (argc < 1) return Usage(io, "a subcommand is needed");
  const std::string verb = argv[0];
  Options o;
  const cli::ParseResult r = cli::IsHelp(verb) ? cli::ParseResult{cli::Parsed::kHelp}
                                               : ParseOptions(argc - 1, argv + 1, o);
  if (r.outcome == cli::Parsed::kHelp) {
    out << kUsage;
    return cli::kExitDone;
  }
  if (!r.problem.empty()) return Usage(io, r.problem);
  if (!r.unexpected.empty()) return Usage(io, "unexpected argument '" + r.unexpected + "'");
  try {
    if (verb == "list") return List(io, o);
    if (verb == "drop") return Drop(io, o);
  } catch (const platform::RegistryError& e) {
    return Fail(io, StoreErrorText(e));
  }
  return Usage(io, "unknown subcommand '" + verb + "'");
}

int RunUnsentCommand(int argc, char** argv) {
  return RunUnsentCommand(argc, argv, std::cout, std::cerr);
}

}  // namespace tv
