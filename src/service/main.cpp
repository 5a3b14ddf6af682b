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
//   tovalink --version
#include <cctype>
#include <cstdio>
#include <string>

#include "engine/statusclient.h"
#include "engine/storecheck.h"
#include "paramserver/lockclient.h"
#include "service/explaincli.h"
#include "service/regcli.h"
#include "service/scalecli.h"
#include "service/servmod.h"
#include "service/unsentcli.h"
#include "tovalink/version.h"

namespace {

// "INSTALL", "/install", "-Install" ... all name the same switch.
bool IsSwitch(const std::string& arg, const char* name) {
  std::string s = arg;
  if (!s.empty() && (s[0] == '/' || s[0] == '-')) s.erase(0, 1);
  if (s.size() != std::char_traits<char>::length(name)) return false;
  for (size_t i = 0; i < s.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(s[i])) != name[i]) return false;
  return true;
}

int Usage(FILE* out, int code) {
  std::fprintf(out,
               "usage: tovalink                         run the service in the foreground\n"
               "       tovalink INSTALL|UNINSTALL [SILENT]\n"
               "       tovalink reg query|add|delete <key> [/v <name>] [/t REG_SZ|REG_DWORD] [/d <data>] [/f]\n"
               "       tovalink check                   report every problem of the store\n"
               "       tovalink explain FILE [--json] [options]  what the scales would receive from a file\n"
               "       tovalink status [HOST] [--json]\n"
               "       tovalink lock|unlock [HOST]\n"
               "       tovalink scale list [--json] | add|set N [--type NAME] [--barcode-type N] [--[no-]use-by-days]\n"
               "                                    [--[no-]const-barcode] | remove N\n"
               "       tovalink unsent list [--scale N] [--json] | drop --scale N (--all | FILE)\n"
               "       tovalink --version\n");
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return tv::RunService(tv::EngineOptionsFromEnvironment());
  std::string cmd = argv[1];
  if (IsSwitch(cmd, "INSTALL") || IsSwitch(cmd, "UNINSTALL")) {
    bool silent = false;
    for (int i = 2; i < argc; ++i) silent = silent || IsSwitch(argv[i], "SILENT");
    tv::TTovalinkService service;
    return IsSwitch(cmd, "INSTALL") ? service.Install(silent) : service.Uninstall(silent);
  }
  // Root runs the store commands as the service's user, so that the files
  // they make stay the service's own.
  const bool storeCommand = cmd == "reg" || cmd == "check" || cmd == "scale" || cmd == "unsent";
  if (storeCommand && !tv::ActAsStoreOwner()) return 1;
  if (cmd == "reg") return tv::RunRegCommand(argc - 2, argv + 2);
  if (cmd == "check") return tv::RunCheckCommand(argc - 2, argv + 2);
  if (cmd == "explain") return tv::RunExplainCommand(argc - 2, argv + 2);
  if (cmd == "status") return tv::RunStatusCommand(argc - 2, argv + 2);
  if (cmd == "scale") return tv::RunScaleCommand(argc - 2, argv + 2);
  if (cmd == "unsent") return tv::RunUnsentCommand(argc - 2, argv + 2);
  if (cmd == "lock" || cmd == "unlock") return tv::RunLockCommand(cmd == "lock", argc - 2, argv + 2);
  if (cmd == "--version" || cmd == "version") {
    std::printf("tovalink %s\n", tv::kVersion);
    return 0;
  }
  if (cmd == "help" || cmd == "--help" || cmd == "-h") return Usage(stdout, 0);
  std::fprintf(stderr, "tovalink: unknown command '%s'\n", cmd.c_str());
  return Usage(stderr, 2);
}
