// Each command writes to the streams it is given: help and results to the
// first, problems to the second, and neither to the process's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "cli/checkcli.h"
#include "cli/explaincli.h"
#include "cli/lockclient.h"
#include "cli/regcli.h"
#include "cli/scalecli.h"
#include "cli/statusclient.h"
#include "cli/unsentcli.h"
#include "testutil.h"

namespace tv {
namespace {

using Command = int (*)(int, char**, std::ostream&, std::ostream&);

struct Case {
  const char* name;
  Command run;
  std::vector<std::string> args;
  int code;
  bool toOut;        // the words go to the first stream, else the second
  std::string says;  // how those words begin
};

struct Ran {
  int code;
  std::string out, err;
};

Ran RunCase(const Case& c) {
  std::vector<std::string> words = c.args;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  std::ostringstream out, err;
  const int code = c.run(static_cast<int>(argv.size()), argv.data(), out, err);
  return {code, out.str(), err.str()};
}

int Lock(int argc, char** argv, std::ostream& out, std::ostream& err) {
  return RunLockCommand(true, argc, argv, out, err);
}

TEST(CommandStreams, HelpGoesToTheOutputAndProblemsToTheErrors) {
  test::TempDir home;
  setenv("TOVALINK_HOME", home.Path().c_str(), 1);
  const std::vector<Case> cases = {
      {"reg", RunRegCommand, {"add", "--help"}, 0, true, "usage: tovalink reg "},
      {"reg", RunRegCommand, {"query"}, 1, false, "ERROR: usage: tovalink reg "},
      {"check", RunCheckCommand, {"-h"}, 0, true, "usage: tovalink check [--network]\n"},
      {"check", RunCheckCommand, {"now"}, 2, false, "usage: tovalink check [--network]\n"},
      {"explain", RunExplainCommand, {"--help"}, 0, true, "usage: tovalink explain "},
      {"explain", RunExplainCommand, {}, 1, false, "tovalink explain: which file?\n"},
      {"status", RunStatusCommand, {"--help"}, 0, true, "usage: tovalink status "},
      {"status",
       RunStatusCommand,
       {"a", "b"},
       2,
       false,
       "tovalink status: unexpected argument 'b'\n"},
      {"lock", Lock, {"-h"}, 0, true, "usage: tovalink lock|unlock "},
      {"lock",
       Lock,
       {"--port", "x"},
       2,
       false,
       "tovalink: --port needs a number from 1 to 65535\n"},
      {"scale", RunScaleCommand, {"set", "--help"}, 0, true, "usage: tovalink scale "},
      {"scale",
       RunScaleCommand,
       {"remove", "5", "--type", "Pole"},
       2,
       false,
       "tovalink scale: remove takes only the scale number\n"},
      {"scale",
       RunScaleCommand,
       {"add", "300", "--type", "Pole"},
       1,
       false,
       "tovalink scale: scale number '300' is not from 1 to 255\n"},
      {"unsent", RunUnsentCommand, {"drop", "-h"}, 0, true, "usage: tovalink unsent "},
      {"unsent",
       RunUnsentCommand,
       {"list", "--scale", "256"},
       2,
       false,
       "tovalink unsent: --scale needs a scale number from 0 to 255\n"},
  };
  for (const Case& c : cases) {
    const Ran r = RunCase(c);
    const std::string& words = c.toOut ? r.out : r.err;
    EXPECT_EQ(r.code, c.code) << c.name << ": " << r.out << r.err;
    EXPECT_EQ(words.rfind(c.says, 0), 0u) << c.name << ": " << words;
    EXPECT_EQ(c.toOut ? r.err : r.out, "") << c.name;
  }
  EXPECT_TRUE(std::filesystem::is_empty(home.Path())) << "no case reached the store";
}

}  // namespace
}  // namespace tv
