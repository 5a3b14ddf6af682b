#include "cli/resendcli.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "cli/exitcode.h"
#include "cli/explainprofile.h"
#include "cli/options.h"
#include "cli/parkedfiles.h"
#include "cli/recordline.h"
#include "cli/regcli.h"
#include "cli/scalelist.h"
#include "platform/caller.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/guid.h"
#include "platform/ledger.h"
#include "platform/registry.h"

namespace tv {
namespace {

using platform::Registry;

constexpr const char* kUsage = "usage: tovalink resend --scale N [--from M] [--force]\n";
// Enough goods numbers to act on; the rest are counted.
constexpr size_t kNamedDifferences = 20;

struct Options {
  int scale = -1;
  int from = -1;  // -1: the scale itself
  bool force = false;
  int Source() const { return from < 0 ? scale : from; }
};

enum : int { kScale = 256, kFrom, kForce };

std::string Parse(int argc, char** argv, Options& o, bool& help) {
  cli::ParseResult r = cli::ParseOptions(
      argc, argv, {{"scale", true, kScale}, {"from", true, kFrom}, {"force", false, kForce}},
      [&](int id, const char* value) -> std::string {
        if (id == kForce) o.force = true;
        if (id == kScale && (!value || !cli::ParseNumber(value, 1, 255, o.scale)))
          return "--scale needs a scale number from 1 to 255";
        if (id == kFrom && (!value || !cli::ParseNumber(value, 1, 255, o.from)))
          return "--from needs a scale number from 1 to 255";
        return "";
      });
  help = r.outcome == cli::Parsed::kHelp;
  if (r.outcome == cli::Parsed::kProblem)
    return r.problem.empty() ? "unexpected argument '" + r.unexpected + "'" : r.problem;
  if (!r.positional.empty()) return "unexpected argument '" + r.positional[0] + "'";
  if (o.scale < 0 && !help) return "--scale N is needed";
  return "";
}

int Fail(std::ostream& err, const std::string& why) {
  err << "tovalink resend: " << why << "\n";
  return cli::kExitFailed;
}

// Each scale asked about must be in the list: a copy for an unlisted scale
// is never delivered, and an unlisted source has no profile to prove with.
std::string UnlistedScale(Registry& reg, const Options& o) {
  std::vector<int> listed;
  for (const ScaleEntry& s : LoadScaleList(reg)) listed.push_back(s.number);
  for (int n : {o.scale, o.Source()})
    if (std::find(listed.begin(), listed.end(), n) == listed.end())
      return "scale " + std::to_string(n) + " is not in the scale list";
  return "";
}

platform::Status LoadHoldings(int scale, std::vector<platform::LedgerEntry>& held) {
  const std::string path = platform::Ledger::PathBeside(Registry::DefaultPath());
  platform::Ledger ledger;
  platform::Status s = ledger.Open(path, true);
  if (s.IsNotFound())
    return platform::Status::InvalidArgument("resend", path,
                                             "no ledger: nothing has been delivered yet");
  if (s.ok()) s = ledger.Holdings(scale, held);
  if (s.ok() && held.empty())
    return platform::Status::InvalidArgument(
        "resend", path,
        "the ledger holds nothing for scale " + std::to_string(scale) +
            " (never delivered to, or a delivery to it is under way or was cut off)");
  return s;
}

struct Made {
  std::string file;
  std::vector<TRecordLines> records;
  size_t differing = 0;
};

Made MakeFile(const std::vector<platform::LedgerEntry>& held, const TExplainProfile& values) {
  Made m;
  std::vector<std::vector<uint8_t>> frames;
  for (const platform::LedgerEntry& e : held) {
    m.records.push_back(LinesOfRecord(e.bytes, values.profile, values.host));
    if (m.records.back().goods == 0) m.records.back().goods = e.goods;
    frames.push_back(e.bytes);
  }
  m.file = GoodsFileOf(m.records, frames, values.profile, values.host);
  for (const TRecordLines& r : m.records) m.differing += r.same ? 0 : 1;
  return m;
}

void NameDifferences(const Made& m, std::ostream& err) {
  size_t named = 0;
  for (const TRecordLines& r : m.records) {
    if (r.same) continue;
    if (named++ == kNamedDifferences) {
      err << "  and " << m.differing - kNamedDifferences << " more\n";
      return;
    }
    err << "  goods " << r.goods << ": " << r.why << "\n";
  }
}

// "resend" + scale, or "resendfrom" + source + scale, with the extension
// the file mask lists; the three digits before the first dot name the
// scale, as in every parked name.
std::string CopyName(const Options& o, const std::string& pattern) {
  std::string extension = ".txt";
  const size_t dot = pattern.rfind('.');
  if (dot != std::string::npos && pattern.find_first_of("*?", dot) == std::string::npos)
    extension = pattern.substr(dot);
  auto three = [](int n) {
    std::string digits = std::to_string(n);
    return std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits;
  };
  const std::string base = o.from >= 0 ? "resendfrom" + three(o.from) : "resend";
  return platform::NewGuidText() + base + three(o.scale) + extension;
}

// After every copy the scale already has: a copy keeps the time its file
// was written, which may lie ahead of this clock.
platform::FileTime CopyTime(Registry& reg, int scale) {
  platform::FileTime when = std::chrono::system_clock::now();
  std::vector<ParkedFile> parked;
  std::string error;
  if (!ListParkedFiles(reg, parked, error)) return when;
  for (const ParkedFile& f : parked) {
    platform::FileInfo info;
    if (f.scale == scale && platform::Env::Default()->GetFileInfo(f.hostPath, &info).ok())
      when = std::max(when, info.lastWrite + std::chrono::microseconds(1));
  }
  return when;
}

// Noted in the ledger first, so the service can say who asked once it sees
// the copy; withdrawn again when the copy cannot be written.
platform::Status Publish(const std::string& folder, const std::string& name, const Made& m,
                         platform::FileTime when, platform::ResendRequest request) {
  platform::Env& env = *platform::Env::Default();
  platform::Status s = env.CreateDirectories(folder);
  if (!s.ok()) return s;
  platform::Ledger ledger;
  s = ledger.Open(platform::Ledger::PathBeside(Registry::DefaultPath()));
  request.file = name;
  if (s.ok()) s = ledger.NoteResend(request);
  if (!s.ok()) return s;
  s = platform::PublishNewFile(env, folder + "/" + name, m.file, when);
  if (!s.ok()) ledger.WithdrawResend(name);
  return s;
}

int Resend(const Options& o, const std::string& caller, std::ostream& out, std::ostream& err) {
  NameStore(err, Registry::DefaultPath());
  Registry reg(StorePathForReading());
  if (const std::string unlisted = UnlistedScale(reg, o); !unlisted.empty())
    return Fail(err, unlisted);
  TExplainProfile values;
  TExplainOptions which;
  which.scale = o.Source();
  std::string error;
  if (!BuildExplainProfile(Registry::DefaultPath(), which, values, error)) return Fail(err, error);
  std::vector<platform::LedgerEntry> held;
  if (platform::Status s = LoadHoldings(o.Source(), held); !s.ok()) return Fail(err, s.ToString());
  const Made m = MakeFile(held, values);
  if (m.differing && !o.force) {
    err << "tovalink resend: nothing written: " << m.differing << " of " << m.records.size()
        << " records of scale " << o.Source()
        << " would not be made again with the same bytes (settings changed since they were "
           "delivered, or a field the goods line cannot carry; --force writes them anyway):\n";
    NameDifferences(m, err);
    return cli::kExitFailed;
  }
  std::string folder, pattern;
  if (!ParkedFolder(reg, folder, pattern, error)) return Fail(err, error);
  const std::string name = CopyName(o, pattern);
  if (!platform::WildcardMatch(pattern, name))
    return Fail(err, "the file mask lists no name a copy could have (" + pattern + ")");
  platform::ResendRequest request;
  request.scale = o.scale;
  request.from = o.Source();
  request.records = static_cast<int64_t>(m.records.size());
  request.who = caller;
  request.asked = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  if (platform::Status s = Publish(folder, name, m, CopyTime(reg, o.scale), request); !s.ok())
    return Fail(err, "nothing written: " + s.ToString());
  out << "wrote " << folder << "/" << name << ": " << m.records.size()
      << " goods records held by scale " << o.Source() << ", for scale " << o.scale << "\n";
  if (m.differing)
    out << m.differing << " of them will reach the scale with other bytes than scale " << o.Source()
        << " holds (--force)\n";
  return cli::kExitDone;
}

}  // namespace

int RunResendCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Options o;
  bool help = false;
  const std::string problem = Parse(argc, argv, o, help);
  if (help) {
    out << kUsage;
    return cli::kExitDone;
  }
  if (!problem.empty()) {
    err << "tovalink resend: " << problem << "\n" << kUsage;
    return cli::kExitUsage;
  }
  // Whoever started the command, before it takes the store owner's user.
  const std::string caller = platform::CallerText();
  if (!ActAsStoreOwner(err)) return cli::kExitFailed;
  try {
    return Resend(o, caller, out, err);
  } catch (const platform::RegistryError& e) {
    return Fail(err, StoreErrorText(e));
  }
}

int RunResendCommand(int argc, char** argv) {
  return RunResendCommand(argc, argv, std::cout, std::cerr);
}

}  // namespace tv
