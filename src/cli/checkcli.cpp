#include "cli/checkcli.h"

#include <iostream>
#include <string>

#include "cli/exitcode.h"
#include "cli/networkcheck.h"
#include "cli/options.h"
#include "cli/regcli.h"
#include "platform/fs.h"
#include "platform/registry.h"

namespace tv {

void PrintCheckReport(const TCheckReport& report, std::ostream& out) {
  for (const TCheckFinding& f : report.findings) {
    const char* word = f.level == TCheckLevel::Error ? "error" : f.level == TCheckLevel::Warning ? "warning" : "ok";
    out << word << ": " << f.text << "\n";
  }
  out << report.storePath << ": " << report.Count(TCheckLevel::Error) << " errors, "
      << report.Count(TCheckLevel::Warning) << " warnings\n";
}

int RunCheckCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  constexpr const char* kUsage =
      "usage: tovalink check [--network]\n"
      "  every problem of the store; with --network also each scale tried:\n"
      "  ping, its goods port and, for an SM700, its keyboard port\n";
  if (argc == 1 && cli::IsHelp(argv[0])) {
    out << kUsage;
    return cli::kExitDone;
  }
  const bool network = argc == 1 && std::string(argv[0]) == "--network";
  if (argc != 0 && !network) {
    err << kUsage;
    return cli::kExitUsage;
  }
  if (!ActAsStoreOwner(err)) return cli::kExitFailed;
  const std::string store = platform::Registry::DefaultPath();
  const TCheckReport report = CheckStore(store, platform::Regional::FromProcessLocale());
  PrintCheckReport(report, out);
  bool reachable = true;
  if (network && platform::FileExists(store)) {
    try {
      platform::Registry reg(store);
      reachable = CheckScaleNetwork(reg, out);
    } catch (const platform::RegistryError& e) {
      err << "tovalink check: the scales cannot be tried: " << e.what() << "\n";
      reachable = false;
    }
  }
  return report.Passed() && reachable ? cli::kExitDone : cli::kExitFailed;
}

int RunCheckCommand(int argc, char** argv) {
  return RunCheckCommand(argc, argv, std::cout, std::cerr);
}

}  // namespace tv
