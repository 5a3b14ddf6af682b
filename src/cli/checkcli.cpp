#include "cli/checkcli.h"

#include <iostream>

#include "cli/exitcode.h"
#include "cli/options.h"
#include "cli/regcli.h"
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
  constexpr const char* kUsage = "usage: tovalink check\n";
  if (argc == 1 && cli::IsHelp(argv[0])) {
    out << kUsage;
    return cli::kExitDone;
  }
  if (argc != 0) {
    err << kUsage;
    return cli::kExitUsage;
  }
  if (!ActAsStoreOwner(err)) return cli::kExitFailed;
  const TCheckReport report =
      CheckStore(platform::Registry::DefaultPath(), platform::Regional::FromProcessLocale());
  PrintCheckReport(report, out);
  return report.Passed() ? cli::kExitDone : cli::kExitFailed;
}

int RunCheckCommand(int argc, char** argv) {
  return RunCheckCommand(argc, argv, std::cout, std::cerr);
}

}  // namespace tv
