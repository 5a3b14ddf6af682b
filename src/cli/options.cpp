#include "cli/options.h"

#include <getopt.h>

#include <cctype>

#include "text/utils.h"

namespace tv::cli {
namespace {

constexpr int kHelpId = 'h';

std::vector<option> LongOptions(const std::vector<Option>& options) {
  std::vector<option> out;
  for (const Option& o : options)
    out.push_back({o.name, o.takesValue ? required_argument : no_argument, nullptr, o.id});
  out.push_back({"help", no_argument, nullptr, kHelpId});
  out.push_back({nullptr, 0, nullptr, 0});
  return out;
}

// "-": words come back in their place (as id 1), whatever POSIXLY_CORRECT
// says; ":": a missing value is told apart from an unknown option.  The
// commands have long options only; -h is the one short one.
constexpr const char* kShortOptions = "-:h";
constexpr int kWord = 1;

// The word getopt refused: a long option as written, else the letter.
std::string Refused(char** args, int next) {
  const std::string last = args[next - 1];
  if (last.rfind("--", 0) == 0 || optopt <= 0 || optopt >= 128) return last;
  return "-" + std::string(1, static_cast<char>(optopt));
}

}  // namespace

ParseResult ParseOptions(int argc, char** argv, const std::vector<Option>& options,
                         const OptionTaker& take) {
  // getopt wants the program's name first and may reorder what it is given.
  std::vector<char*> args{const_cast<char*>("tovalink")};
  args.insert(args.end(), argv, argv + argc);
  args.push_back(nullptr);
  const std::vector<option> longOptions = LongOptions(options);
  ParseResult r;
  optind = 0;  // glibc: start afresh, also for a second parse in one process
  opterr = 0;
  int id = 0;
  while (r.outcome == Parsed::kOk && (id = getopt_long(argc + 1, args.data(), kShortOptions,
                                                       longOptions.data(), nullptr)) != -1) {
    if (id == kWord) {
      r.positional.push_back(optarg);
    } else if (id == kHelpId) {
      r.outcome = Parsed::kHelp;
    } else if (id == '?') {
      r.outcome = Parsed::kProblem;
      r.unexpected = Refused(args.data(), optind);
    } else {
      const bool missing = id == ':';
      if (missing) id = optopt;
      r.problem = take(id, missing ? nullptr : optarg);
      if (!r.problem.empty()) r.outcome = Parsed::kProblem;
    }
  }
  // What follows "--" are words too.
  if (r.outcome == Parsed::kOk)
    r.positional.insert(r.positional.end(), args.begin() + optind, args.end() - 1);
  return r;
}

bool IsHelp(std::string_view word) { return word == "--help" || word == "-h"; }

bool ParseNumber(std::string_view text, int min, int max, int& out) {
  int32_t value = 0;
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos ||
      !text::StrToInt(text, value) || value < min || value > max)
    return false;
  out = value;
  return true;
}

bool IsSwitch(std::string_view word, std::string_view name, bool bareToo) {
  const bool marked = !word.empty() && (word[0] == '/' || word[0] == '-');
  if (marked)
    word.remove_prefix(1);
  else if (!bareToo)
    return false;
  if (word.size() != name.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(word[i])) !=
        std::toupper(static_cast<unsigned char>(name[i])))
      return false;
  return true;
}

}  // namespace tv::cli
