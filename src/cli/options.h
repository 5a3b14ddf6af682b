// The one argument parser of the commands (getopt_long), the number reader
// their options share, the Windows-style switch test and printf-style
// columns for their tables.  Every command
// answers --help and -h with its usage on standard output.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tv::cli {

struct Option {
  const char* name;  // the long name, without "--"
  bool takesValue;
  int id;  // handed to the taker; from 256 up, clear of 'h', '?' and ':'
};

enum class Parsed { kOk, kHelp, kProblem };

struct ParseResult {
  Parsed outcome = Parsed::kOk;
  std::vector<std::string> positional;
  // With kProblem: an argument no option knows ("unexpected argument"),
  // or the taker's own words when it refused a value.
  std::string unexpected;
  std::string problem;
};

// Takes one option; `value` is null when a value-taking option came last
// without one.  Answers "" when taken, else the problem.
using OptionTaker = std::function<std::string(int id, const char* value)>;

// Parses `argv` (the words after the command, argv[0] included) with
// getopt_long; --help and -h are known to every command.  Options and
// positional words may come in any order; "--" ends the options.
ParseResult ParseOptions(int argc, char** argv, const std::vector<Option>& options,
                         const OptionTaker& take);

// The help words, for the commands with a syntax of their own.
bool IsHelp(std::string_view word);

// A whole decimal number from `min` to `max`, digits only: no sign, no
// spaces.
bool ParseNumber(std::string_view text, int min, int max, int& out);

// printf's widths for a line on a stream, however long the line.
template <typename... Args>
std::string Format(const char* format, Args... args) {
  std::string line(static_cast<size_t>(std::snprintf(nullptr, 0, format, args...)), '\0');
  std::snprintf(line.data(), line.size() + 1, format, args...);
  return line;
}

// "/V" and "-v" name the switch V in any case; with `bareToo`, "v" as well.
bool IsSwitch(std::string_view word, std::string_view name, bool bareToo = false);

}  // namespace tv::cli
