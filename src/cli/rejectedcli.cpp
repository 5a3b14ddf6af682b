#include "cli/rejectedcli.h"

#include <algorithm>
#include <ctime>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "cli/exitcode.h"
#include "cli/options.h"
#include "cli/regcli.h"
#include "config/storeaccess.h"
#include "config/storedvalues.h"
#include "decode/json.h"
#include "files/fileproc_util.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/registry.h"

namespace tv {
namespace {

using platform::Registry;

constexpr const char* kUsage =
    "usage: tovalink rejected list [--json]   the rejected files, with why and when\n"
    "       tovalink rejected retry FILE      move FILE back into the export directory\n"
    "       tovalink rejected drop FILE       delete FILE\n";

struct Io {
  std::ostream& out;
  std::ostream& err;
};

int Usage(Io io, const std::string& problem) {
  io.err << "tovalink rejected: " << problem << "\n" << kUsage;
  return cli::kExitUsage;
}

int Fail(Io io, const std::string& reason) {
  io.err << "tovalink rejected: " << reason << "\n";
  return cli::kExitFailed;
}

struct Folders {
  std::string exportDir;  // host paths, without a trailing '/'
  std::string rejected;
};

bool FindFolders(Folders& f, std::string& error) {
  Registry reg(StorePathForReading());
  platform::RegistryKey key = reg.OpenReadOnly(kProductKey);
  std::string stored;
  try {
    if (key) stored = config::ReadString(key, config::kExportDir);
  } catch (const platform::RegistryError&) {
    stored.clear();
  }
  if (stored.empty()) {
    error = "the store has no " + std::string(config::kExportDir.name) +
            " (has the service or `tovalink reg add` written the settings?)";
    return false;
  }
  f.exportDir = platform::MapPath(stored);
  f.rejected = platform::MapPath(stored + "\\Rejected");
  return true;
}

struct Rejected {
  std::string name;
  bool keyboard = false;
  std::time_t when = 0;  // when it was rejected: its note's time, else the file's
  uint64_t size = 0;
  std::string reason;  // "" when no note was kept (rejected by an older service)
};

std::vector<Rejected> ListRejected(const Folders& f) {
  std::vector<Rejected> out;
  std::vector<platform::FoundFile> found;
  platform::FindFiles(f.rejected + "/*", found);
  platform::Env& env = *platform::Env::Default();
  std::map<std::string, std::time_t> times;
  for (const platform::FoundFile& file : found) times[file.name] = file.lastWrite;
  for (const platform::FoundFile& file : found) {
    if (file.isDirectory || file.name.empty() || file.name[0] == '.') continue;
    Rejected r;
    r.name = file.name;
    r.keyboard = file.name.size() > 4 && file.name.compare(file.name.size() - 4, 4, ".xml") == 0;
    const std::string path = f.rejected + "/" + file.name;
    platform::FileInfo info;
    if (env.GetFileInfo(path, &info).ok()) r.size = info.size;
    r.when = file.lastWrite;
    const std::string note = fileproc::RejectReasonPath(path);
    if (std::string text; env.ReadFile(note, &text).ok()) {
      while (!text.empty() && text.back() == '\n') text.pop_back();
      r.reason = text;
      r.when = times["." + file.name + ".reason"];
    }
    out.push_back(r);
  }
  std::stable_sort(out.begin(), out.end(), [](const Rejected& a, const Rejected& b) { return a.when < b.when; });
  return out;
}

std::string LocalTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

int List(Io io, const Folders& f, bool json) {
  const std::vector<Rejected> files = ListRejected(f);
  if (json) {
    io.out << "[";
    for (size_t i = 0; i < files.size(); ++i) {
      decode::JsonObject j;
      j.Str("file", files[i].name).Str("kind", files[i].keyboard ? "keyboard" : "goods");
      j.Str("rejected_at", platform::FormatIso8601(files[i].when)).Int("size", static_cast<int64_t>(files[i].size));
      if (files[i].reason.empty())
        j.Null("reason");
      else
        j.Str("reason", files[i].reason);
      io.out << (i ? ",\n " : "\n ") << j.Text();
    }
    io.out << (files.empty() ? "]\n" : "\n]\n");
    return cli::kExitDone;
  }
  if (files.empty()) {
    io.out << "Nothing is rejected.\n";
    return cli::kExitDone;
  }
  io.out << cli::Format("%-19s  %-8s %10s  %-24s %s\n", "Rejected at", "Kind", "Size", "File", "Reason");
  for (const Rejected& r : files)
    io.out << cli::Format("%-19s  %-8s %10llu  %-24s ", LocalTime(r.when).c_str(), r.keyboard ? "keyboard" : "goods",
                          static_cast<unsigned long long>(r.size), r.name.c_str())
           << (r.reason.empty() ? "-" : r.reason) << "\n";
  return cli::kExitDone;
}

// FILE is a name in Rejected as `list` shows it: no path, nothing hidden.
bool FindRejected(const Folders& f, const std::string& name, std::string& path, std::string& error) {
  if (name.empty() || name[0] == '.' || name.find('/') != std::string::npos) {
    error = "'" + name + "' is not a file name as `tovalink rejected list` shows it";
    return false;
  }
  path = f.rejected + "/" + name;
  if (!platform::FileExists(path)) {
    error = "no rejected file '" + name + "' in " + f.rejected;
    return false;
  }
  return true;
}

int Retry(Io io, const Folders& f, const std::string& name) {
  std::string path, error;
  if (!FindRejected(f, name, path, error)) return Fail(io, error);
  const std::string target = f.exportDir + "/" + name;
  platform::Env& env = *platform::Env::Default();
  // A newer export of the same name must not be lost to an old rejected one.
  const platform::Status moved = env.MoveFileNoReplace(path, target);
  if (moved.IsAlreadyExists()) return Fail(io, target + " exists already; nothing was moved");
  if (!moved.ok()) return Fail(io, moved.ToString());
  env.RemoveFile(fileproc::RejectReasonPath(path));
  io.out << "moved " << name << " back to " << f.exportDir << "; the next export cycle takes it\n";
  return cli::kExitDone;
}

int Drop(Io io, const Folders& f, const std::string& name) {
  std::string path, error;
  if (!FindRejected(f, name, path, error)) return Fail(io, error);
  if (!platform::RemoveFile(path)) return Fail(io, "cannot delete " + path);
  platform::RemoveFile(fileproc::RejectReasonPath(path));
  io.out << "dropped " << name << "\n";
  return cli::kExitDone;
}

enum : int { kJson = 256 };

}  // namespace

int RunRejectedCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  const Io io{out, err};
  if (argc < 1) return Usage(io, "a subcommand is needed");
  const std::string verb = argv[0];
  bool json = false;
  const cli::ParseResult r = cli::IsHelp(verb) ? cli::ParseResult{cli::Parsed::kHelp}
                                               : cli::ParseOptions(argc - 1, argv + 1, {{"json", false, kJson}},
                                                                   [&](int, const char*) -> std::string {
                                                                     json = true;
                                                                     return "";
                                                                   });
  if (r.outcome == cli::Parsed::kHelp) {
    out << kUsage;
    return cli::kExitDone;
  }
  if (!r.problem.empty()) return Usage(io, r.problem);
  if (!r.unexpected.empty()) return Usage(io, "unexpected argument '" + r.unexpected + "'");
  const bool list = verb == "list";
  if (!list && verb != "retry" && verb != "drop") return Usage(io, "unknown subcommand '" + verb + "'");
  if (list && (!r.positional.empty())) return Usage(io, "list takes only --json");
  if (!list && (json || r.positional.size() != 1)) return Usage(io, verb + " takes one FILE");
  if (!ActAsStoreOwner(err)) return cli::kExitFailed;
  try {
    NameStore(err, Registry::DefaultPath());
    Folders f;
    std::string error;
    if (!FindFolders(f, error)) return Fail(io, error);
    if (list) return List(io, f, json);
    return verb == "retry" ? Retry(io, f, r.positional[0]) : Drop(io, f, r.positional[0]);
  } catch (const platform::RegistryError& e) {
    return Fail(io, StoreErrorText(e));
  }
}

int RunRejectedCommand(int argc, char** argv) { return RunRejectedCommand(argc, argv, std::cout, std::cerr); }

}  // namespace tv
