#include "cli/storecli.h"

#include <cerrno>
#include <iostream>
#include <string>

#include "cli/exitcode.h"
#include "cli/options.h"
#include "cli/regcli.h"
#include "config/storekeys.h"
#include "platform/fs.h"
#include "platform/instancelock.h"
#include "platform/registry.h"
#include "platform/storefile.h"

namespace tv {

struct ServiceProbe::Lock {
  platform::InstanceLock lock;
};

ServiceProbe::ServiceProbe() : lock_(new Lock) {
  const platform::Status s = lock_->lock.Acquire(platform::StateHome(), pid_);
  // Any other failure (an unreadable lock file) is taken as a running
  // service: restoring under one would lose its writes.
  running_ = !s.ok();
}

ServiceProbe::~ServiceProbe() { delete lock_; }

namespace {

constexpr const char* kUsage =
    "usage: tovalink store backup FILE    copy the store, also while the service runs\n"
    "       tovalink store restore FILE   replace the store by FILE (service stopped)\n";

int Usage(std::ostream& err, const std::string& problem) {
  err << "tovalink store: " << problem << "\n" << kUsage;
  return cli::kExitUsage;
}

int Failed(std::ostream& err, const platform::Status& s) {
  err << "tovalink store: " << s.ToString() << "\n";
  return cli::kExitFailed;
}

int Backup(const std::string& file, std::ostream& out, std::ostream& err) {
  const std::string store = platform::Registry::DefaultPath();
  if (platform::Status s = platform::BackupStore(store, file); !s.ok()) return Failed(err, s);
  out << "store " << store << " backed up to " << file << "\n";
  return cli::kExitDone;
}

int Restore(const std::string& file, std::ostream& out, std::ostream& err) {
  const std::string store = platform::Registry::DefaultPath();
  const ServiceProbe probe;
  if (probe.Running()) {
    err << "tovalink store: the service runs";
    if (probe.Pid() > 0) err << " (pid " << probe.Pid() << ")";
    err << "; stop it (systemctl stop tovalink), restore, then start it; nothing restored\n";
    return cli::kExitFailed;
  }
  if (platform::Status s = platform::RestoreStore(file, store, kProductKey); !s.ok()) {
    err << "tovalink store: " << s.ToString() << "; the store is unchanged\n";
    return cli::kExitFailed;
  }
  out << "store " << store << " restored from " << file << "\n";
  return cli::kExitDone;
}

}  // namespace

int RunStoreCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  if (argc < 1) return Usage(err, "a subcommand is needed");
  const std::string verb = argv[0];
  if (cli::IsHelp(verb)) {
    out << kUsage;
    return cli::kExitDone;
  }
  if (verb != "backup" && verb != "restore") return Usage(err, "unknown subcommand '" + verb + "'");
  const cli::ParseResult r =
      cli::ParseOptions(argc - 1, argv + 1, {}, [](int, const char*) { return ""; });
  if (r.outcome == cli::Parsed::kHelp) {
    out << kUsage;
    return cli::kExitDone;
  }
  if (!r.unexpected.empty()) return Usage(err, "unexpected argument '" + r.unexpected + "'");
  if (r.positional.size() != 1) return Usage(err, verb + " needs one FILE");
  if (!ActAsStoreOwner(err)) return cli::kExitFailed;
  return verb == "backup" ? Backup(r.positional[0], out, err) : Restore(r.positional[0], out, err);
}

int RunStoreCommand(int argc, char** argv) {
  return RunStoreCommand(argc, argv, std::cout, std::cerr);
}

}  // namespace tv
