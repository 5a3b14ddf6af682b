// tovalink: the service and its command-line tools.
//   tovalink                      run the service in the foreground (systemd)
//   tovalink INSTALL|UNINSTALL [SILENT]
//   tovalink reg query|add|delete ...
//   tovalink check
//   tovalink explain FILE [options]
//   tovalink status [HOST] [--json]
//   tovalink lock|unlock [HOST]
//   tovalink scale list|add|remove|set ...
//   tovalink unsent list|drop ...
//   tovalink rejected list|retry|drop ...
//   tovalink --version
#include <iostream>
#include <string>
#include <vector>

#include "cli/checkcli.h"
#include "cli/commands.h"
#include "cli/configcli.h"
#include "cli/exitcode.h"
#include "cli/explaincli.h"
#include "cli/goodscli.h"
#include "cli/lockclient.h"
#include "cli/options.h"
#include "cli/regcli.h"
#include "cli/rejectedcli.h"
#include "cli/resendcli.h"
#include "cli/scalecli.h"
#include "cli/statusclient.h"
#include "cli/storecli.h"
#include "cli/unsentcli.h"
#include "service/servicehost.h"
#include "tovalink/version.h"

namespace {

void Usage(std::ostream& out) {
  out << "usage: tovalink                         run the service in the foreground\n";
  for (const tv::cli::CommandInfo& c : tv::cli::kCommands) out << "       tovalink " << c.synopsis << "\n";
  out << "exit codes: 0 done, 1 failed (status, lock, unlock: no service answered), 2 usage error;\n"
         "            status: 3 a scale failed, 4 needs a look\n";
}

int Dispatch(int argc, char** argv);

// `tovalink help CMD [SUB]` is `tovalink CMD [SUB] --help`.
int HelpFor(int argc, char** argv) {
  std::vector<char*> words(argv, argv + argc);
  words.erase(words.begin() + 1);
  static char help[] = "--help";
  words.push_back(help);
  words.push_back(nullptr);
  return Dispatch(argc, words.data());
}

int Dispatch(int argc, char** argv) {
  using tv::cli::IsSwitch;
  std::string cmd = argv[1];
  if (cmd == "help" && argc > 2) return HelpFor(argc, argv);
  // "INSTALL", "/install", "-Install" ... all name the same switch.
  if (IsSwitch(cmd, "INSTALL", true) || IsSwitch(cmd, "UNINSTALL", true)) {
    return tv::RunInstallCommand(IsSwitch(cmd, "INSTALL", true), argc - 2, argv + 2);
  }
  // Root runs the store commands (reg, check, scale, unsent, resend) as the
  // service's user, so that the files they make stay the service's own:
  // each does so once its arguments are understood.
  if (cmd == "reg") return tv::RunRegCommand(argc - 2, argv + 2);
  if (cmd == "check") return tv::RunCheckCommand(argc - 2, argv + 2);
  if (cmd == "explain") return tv::RunExplainCommand(argc - 2, argv + 2);
  if (cmd == "goods") return tv::RunGoodsCommand(argc - 2, argv + 2);
  if (cmd == "resend") return tv::RunResendCommand(argc - 2, argv + 2);
  if (cmd == "status") return tv::RunStatusCommand(argc - 2, argv + 2);
  if (cmd == "scale") return tv::RunScaleCommand(argc - 2, argv + 2);
  if (cmd == "config") return tv::RunConfigCommand(argc - 2, argv + 2);
  if (cmd == "store") return tv::RunStoreCommand(argc - 2, argv + 2);
  if (cmd == "unsent") return tv::RunUnsentCommand(argc - 2, argv + 2);
  if (cmd == "rejected") return tv::RunRejectedCommand(argc - 2, argv + 2);
  if (cmd == "lock" || cmd == "unlock") return tv::RunLockCommand(cmd == "lock", argc - 2, argv + 2);
  if (cmd == "--version" || cmd == "version") {
    std::cout << "tovalink " << tv::kVersion << "\n";
    return tv::cli::kExitDone;
  }
  if (cmd == "help" || tv::cli::IsHelp(cmd)) {
    Usage(std::cout);
    return tv::cli::kExitDone;
  }
  std::cerr << "tovalink: unknown command '" << cmd << "'\n";
  Usage(std::cerr);
  return tv::cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return tv::RunService(tv::EngineOptionsFromEnvironment());
  return Dispatch(argc, argv);
}
