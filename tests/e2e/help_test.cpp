// Every command and subcommand of the real binary answers --help and -h
// with its usage and exit 0, and does nothing else: no store is made, no
// service is asked.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/commands.h"
#include "site.h"

namespace tv::test {
namespace {

struct HelpCase {
  std::vector<std::string> args;
  std::string usage;  // how the first line begins
};

const std::vector<HelpCase> kCases = {
    {{"--help"}, "usage: tovalink "},
    {{"-h"}, "usage: tovalink "},
    {{"INSTALL", "--help"}, "usage: tovalink INSTALL|UNINSTALL"},
    {{"reg", "--help"}, "usage: tovalink reg "},
    {{"reg", "query", "--help"}, "usage: tovalink reg "},
    {{"reg", "add", "-h"}, "usage: tovalink reg "},
    {{"reg", "delete", "--help"}, "usage: tovalink reg "},
    {{"check", "--help"}, "usage: tovalink check"},
    {{"explain", "--help"}, "usage: tovalink explain "},
    {{"explain", "goods.txt", "--json", "-h"}, "usage: tovalink explain "},
    {{"status", "--help"}, "usage: tovalink status "},
    {{"status", "127.0.0.9", "-h"}, "usage: tovalink status "},
    {{"lock", "--help"}, "usage: tovalink lock|unlock "},
    {{"unlock", "-h"}, "usage: tovalink lock|unlock "},
    {{"scale", "--help"}, "usage: tovalink scale "},
    {{"scale", "list", "--help"}, "usage: tovalink scale "},
    {{"scale", "add", "--help"}, "usage: tovalink scale "},
    {{"scale", "add", "7", "--type", "Pole", "-h"}, "usage: tovalink scale "},
    {{"scale", "set", "-h"}, "usage: tovalink scale "},
    {{"scale", "remove", "--help"}, "usage: tovalink scale "},
    {{"unsent", "--help"}, "usage: tovalink unsent "},
    {{"unsent", "list", "--help"}, "usage: tovalink unsent "},
    {{"unsent", "drop", "--scale", "3", "--all", "-h"}, "usage: tovalink unsent "},
    {{"config", "--help"}, "usage: tovalink config "},
    {{"config", "apply", "x.conf", "--dry-run", "-h"}, "usage: tovalink config "},
    {{"store", "restore", "--help"}, "usage: tovalink store "},
    {{"rejected", "--help"}, "usage: tovalink rejected "},
    {{"rejected", "retry", "x.txt", "-h"}, "usage: tovalink rejected "},
};

std::string Joined(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& a : args) out += (out.empty() ? "" : " ") + a;
  return out;
}

TEST(HelpEndToEnd, EveryCommandAndSubcommandAnswersHelpWithItsUsageAndDoesNothingElse) {
  TempDir home;
  for (const HelpCase& c : kCases) {
    std::vector<std::string> args{TovalinkBinary()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string out;
    EXPECT_EQ(RunBinary(args, {"TOVALINK_HOME=" + home.Path()}, out), 0) << Joined(c.args) << ":\n"
                                                                         << out;
    EXPECT_EQ(out.rfind(c.usage, 0), 0u) << Joined(c.args) << ":\n" << out;
  }
  EXPECT_TRUE(std::filesystem::is_empty(home.Path())) << "help made no store";
}

// Help is not a licence for other words: a usage error still fails, with
// its own code and words.
TEST(HelpEndToEnd, UsageErrorsStillExitWithTheirCodes) {
  struct ErrorCase {
    std::vector<std::string> args;
    int code;
    std::string says;
  };
  const std::vector<ErrorCase> cases = {
      {{"scale", "add", "7", "--colour"}, 2, "unexpected argument '--colour'"},
      {{"unsent", "list", "--scale"}, 2, "--scale needs a scale number"},
      {{"status", "--port", "0"}, 2, "--port needs a number from 1 to 65535"},
      {{"lock", "--port"}, 2, "--port needs a number from 1 to 65535"},
      {{"check", "extra"}, 2, "usage: tovalink check"},
      {{"explain", "--scale", "300", "x.txt"}, 1, "unexpected argument '--scale 300'"},
      {{"reg", "query"}, 1, "usage: tovalink reg"},
      {{"config", "apply"}, 2, "apply needs one FILE"},
      {{"config", "dump", "--dry-run"}, 2, "unexpected argument '--dry-run'"},
      {{"store", "backup"}, 2, "backup needs one FILE"},
      {{"store", "copy", "x.db"}, 2, "unknown subcommand 'copy'"},
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"}};
  TempDir home;
  for (const ErrorCase& c : cases) {
    std::vector<std::string> args{TovalinkBinary()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string out;
    EXPECT_EQ(RunBinary(args, {"TOVALINK_HOME=" + home.Path()}, out), c.code)
        << Joined(c.args) << ":\n"
        << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << Joined(c.args) << ":\n" << out;
  }
}

// `help CMD` is `CMD --help`: each command's own usage, not the global one.
TEST(HelpEndToEnd, HelpWithACommandPrintsThatCommandsUsage) {
  TempDir home;
  const std::vector<HelpCase> cases = {{{"help", "scale"}, "usage: tovalink scale "},
                                       {{"help", "status"}, "usage: tovalink status "},
                                       {{"help", "install"}, "usage: tovalink INSTALL|UNINSTALL"},
                                       {{"help", "unsent", "drop"}, "usage: tovalink unsent "},
                                       {{"help"}, "usage: tovalink "}};
  for (const HelpCase& c : cases) {
    std::vector<std::string> args{TovalinkBinary()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string out;
    EXPECT_EQ(RunBinary(args, {"TOVALINK_HOME=" + home.Path()}, out), 0) << Joined(c.args) << ":\n" << out;
    EXPECT_EQ(out.rfind(c.usage, 0), 0u) << Joined(c.args) << ":\n" << out;
  }
  // Every command of the one list is dispatched and has its own help.
  for (const cli::CommandInfo& c : cli::kCommands) {
    const std::string first(c.names.substr(0, c.names.find('|')));
    if (first == "help" || first == "--version") continue;
    std::string out;
    EXPECT_EQ(RunBinary({TovalinkBinary(), "help", first}, {"TOVALINK_HOME=" + home.Path()}, out), 0) << first << out;
    EXPECT_EQ(out.rfind("usage: tovalink ", 0), 0u) << first << ":\n" << out;
  }
  std::string out;
  EXPECT_EQ(RunBinary({TovalinkBinary(), "help", "frobnicate"}, {}, out), 2) << out;
  EXPECT_TRUE(std::filesystem::is_empty(home.Path())) << "help made no store";
}

// Nothing listens in this namespace: the commands that ask the service
// share one exit code for that (1, not status's "a scale failed"), ask the
// operator the likely question, and take a host name as well as an address.
TEST(HelpEndToEnd, NoServiceIsOneExitCodeAndHostNamesAreAccepted) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"lock", "localhost"}, 1, "is the service running on localhost?"},
      {{"unlock"}, 1, "is the service running on 127.0.0.1?"},
      {{"status", "localhost"}, 1, "cannot connect to 127.0.0.1:3058"},
      {{"status", "localhost", "--json"}, 1, "is the service running on localhost?"},
      {{"status", "no-such-host.invalid"}, 2, "cannot find the host no-such-host.invalid"},
      {{"lock", "no-such-host.invalid"}, 2, "cannot find the host no-such-host.invalid"}};
  TempDir home;
  for (const Case& c : cases) {
    std::vector<std::string> args{TovalinkBinary()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string out;
    EXPECT_EQ(RunBinary(args, {"TOVALINK_HOME=" + home.Path()}, out), c.code) << Joined(c.args) << ":\n" << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << Joined(c.args) << ":\n" << out;
  }
}

}  // namespace
}  // namespace tv::test
