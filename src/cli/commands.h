// The one list of the commands: the global usage prints it, and a test
// holds the man page's synopsis, the bash completion and `help COMMAND`
// to it, so that a command added here and nowhere else fails the build's
// tests.
#pragma once

#include <string_view>

namespace tv::cli {

struct CommandInfo {
  std::string_view names;     // the first word; alternatives "lock|unlock"
  std::string_view synopsis;  // the usage line(s) after "tovalink "
};

inline constexpr CommandInfo kCommands[] = {
    {"INSTALL|UNINSTALL", "INSTALL|UNINSTALL [SILENT]"},
    {"reg", "reg query|add|delete <key> [/v <name>] [/t REG_SZ|REG_DWORD] [/d <data>] [/f|/force]"},
    {"check", "check [--network]                 report every problem of the store (and each scale)"},
    {"explain", "explain FILE [--json] [options]   what the scales would receive from a file"},
    {"goods", "goods --scale N [GOODS...] [--json] | diff --scale N FILE"},
    {"resend", "resend --scale N [--from M] [--force]"},
    {"status", "status [HOST] [--json] [--port N]"},
    {"lock|unlock", "lock|unlock [HOST] [--port N]"},
    {"scale",
     "scale list [--json] | add|set N [--type NAME] [--barcode-type N] [--[no-]use-by-days]\n"
     "                              [--[no-]const-barcode] | remove N"},
    {"unsent", "unsent list [--scale N] [--json] | drop --scale N (--all | FILE)"},
    {"rejected", "rejected list [--json] | retry FILE | drop FILE"},
    {"config", "config dump | apply FILE [--dry-run]"},
    {"store", "store backup|restore FILE"},
    {"help", "help COMMAND                      the usage of one command"},
    {"--version", "--version"},
};

}  // namespace tv::cli
