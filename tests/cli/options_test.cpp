// The commands' one argument parser and the small readers beside it.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tv::cli {
namespace {

enum : int { kJson = 256, kPort };

struct Parsing {
  ParseResult result;
  std::vector<std::string> taken;  // "json", "port=<value>" or "port=(none)"
};

Parsing Parse(std::vector<std::string> words) {
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  Parsing run;
  run.result = ParseOptions(
      static_cast<int>(argv.size()), argv.data(), {{"json", false, kJson}, {"port", true, kPort}},
      [&](int id, const char* value) -> std::string {
        if (id == kJson) run.taken.push_back("json");
        if (id != kPort) return "";
        run.taken.push_back(std::string("port=") + (value ? value : "(none)"));
        return value && std::string(value) == "bad" ? "--port needs a number" : "";
      });
  return run;
}

TEST(ParseOptions, TakesOptionsAndWordsInAnyOrderUntilADoubleDash) {
  Parsing r = Parse({"host", "--port", "5", "--json", "--port=6", "--", "--json"});
  EXPECT_EQ(r.result.outcome, Parsed::kOk);
  EXPECT_EQ(r.taken, (std::vector<std::string>{"port=5", "json", "port=6"}));
  EXPECT_EQ(r.result.positional, (std::vector<std::string>{"host", "--json"}));
  // A second parse in the same process starts afresh.
  r = Parse({"--json"});
  EXPECT_EQ(r.result.outcome, Parsed::kOk);
  EXPECT_TRUE(r.result.positional.empty());
  // A strict POSIX environment does not stop the options at the first word.
  setenv("POSIXLY_CORRECT", "1", 1);
  r = Parse({"host", "--json"});
  unsetenv("POSIXLY_CORRECT");
  EXPECT_EQ(r.taken, (std::vector<std::string>{"json"}));
  EXPECT_EQ(r.result.positional, (std::vector<std::string>{"host"}));
}

TEST(ParseOptions, HelpStopsTheParseAndProblemsNameTheWordOrTheTakersReason) {
  EXPECT_EQ(Parse({"--help"}).result.outcome, Parsed::kHelp);
  EXPECT_EQ(Parse({"host", "-h"}).result.outcome, Parsed::kHelp);

  Parsing unknown = Parse({"--colour", "--json"});
  EXPECT_EQ(unknown.result.outcome, Parsed::kProblem);
  EXPECT_EQ(unknown.result.unexpected, "--colour");
  EXPECT_TRUE(unknown.taken.empty()) << "parsing stops at the first problem";
  EXPECT_EQ(Parse({"-x"}).result.unexpected, "-x");
  EXPECT_EQ(Parse({"--json=1"}).result.unexpected, "--json=1");

  Parsing missing = Parse({"--port"});
  EXPECT_EQ(missing.taken, (std::vector<std::string>{"port=(none)"}))
      << "the taker words a missing value";
  Parsing refused = Parse({"--port", "bad"});
  EXPECT_EQ(refused.result.outcome, Parsed::kProblem);
  EXPECT_EQ(refused.result.problem, "--port needs a number");
}

TEST(ParseNumber, DigitsOnlyWithinTheRange) {
  int n = -1;
  EXPECT_TRUE(ParseNumber("255", 1, 255, n));
  EXPECT_EQ(n, 255);
  EXPECT_TRUE(ParseNumber("007", 0, 255, n));
  EXPECT_EQ(n, 7);
  for (const char* bad : {"", "0", "256", "+5", "-1", " 5", "5 ", "0x10", "99999999999"})
    EXPECT_FALSE(ParseNumber(bad, 1, 255, n)) << "'" << bad << "'";
  EXPECT_EQ(n, 7) << "a refused number leaves the value alone";
}

TEST(IsSwitch, SlashOrDashInAnyCaseAndBareOnlyWhenAllowed) {
  EXPECT_TRUE(IsSwitch("/v", "V"));
  EXPECT_TRUE(IsSwitch("-F", "F"));
  EXPECT_FALSE(IsSwitch("v", "V"));
  EXPECT_FALSE(IsSwitch("/vv", "V"));
  EXPECT_TRUE(IsSwitch("install", "INSTALL", true));
  EXPECT_TRUE(IsSwitch("-Install", "INSTALL", true));
  EXPECT_FALSE(IsSwitch("--install", "INSTALL", true));
}

TEST(Format, KeepsPrintfsWidthsAndNeverCutsALine) {
  EXPECT_EQ(Format("%-6d|%5s|", 42, "ab"), "42    |   ab|");
  const std::string name(3000, 'n');
  EXPECT_EQ(Format("%-4s%s.", "x", name.c_str()), "x   " + name + ".");
}

}  // namespace
}  // namespace tv::cli
