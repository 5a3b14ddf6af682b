#include "cli/explaincli.h"

#include <cstdio>
#include <string>

#include "files/parkedname.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "cli/explainfile.h"
#include "cli/scalelist.h"

namespace tv {
namespace {

constexpr const char* kUsage =
    "usage: tovalink explain FILE [--json] [--scale N] [--import-type N] [--scale-type NAME]\n"
    "           [--barcode-type N] [--[no-]use-by-days] [--[no-]const-barcode] [--set "
    "NAME=VALUE]...\n"
    "           [--locale-decimal-separator C] [--locale-list-separator C]\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "tovalink explain: %s\n%s", problem.c_str(), kUsage);
  return 1;
}

bool Number(const std::string& text, int max, int& out) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = std::stoi(text);
  return out <= max;
}

struct Request {
  std::string file;
  bool json = false;
  TExplainOptions options;
};

// One option with its argument, if it takes one; false with the problem.
bool TakeOption(const std::string& arg, const char* next, Request& r, bool& usedNext,
                std::string& error) {
  TExplainOptions& o = r.options;
  usedNext = false;
  if (arg == "--json") return r.json = true;
  if (arg == "--use-by-days" || arg == "--no-use-by-days")
    return (o.useByInDays = arg == "--use-by-days"), true;
  if (arg == "--const-barcode" || arg == "--no-const-barcode")
    return (o.constBarcode = arg == "--const-barcode"), true;
  if (!next) {
    error = "unexpected argument '" + arg + "'";
    return false;
  }
  const std::string value = next;
  usedNext = true;
  int n = 0;
  if (arg == "--scale" && Number(value, 255, n)) {
    o.scale = n;
  } else if (arg == "--import-type" && Number(value, 255, n)) {
    o.importType = static_cast<uint8_t>(n);
  } else if (arg == "--barcode-type" && Number(value, 255, n)) {
    o.barcodeType = static_cast<uint8_t>(n);
  } else if (arg == "--scale-type") {
    if (!(o.scaleType = ParseScaleType(value))) {
      error = "--scale-type needs one of " + ScaleTypeNames();
      return false;
    }
  } else if (arg == "--set" && value.find('=') != std::string::npos) {
    o.stored[value.substr(0, value.find('='))] = value.substr(value.find('=') + 1);
  } else if ((arg == "--locale-decimal-separator" || arg == "--locale-list-separator") &&
             value.size() == 1) {
    (arg == "--locale-list-separator" ? o.localeList : o.localeDecimal) = value[0];
  } else {
    error = "unexpected argument '" + arg +
            (arg.rfind("--", 0) == 0 ? " " + value : std::string()) + "'";
    return false;
  }
  return true;
}

bool Parse(int argc, char** argv, Request& r, std::string& error) {
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0) {
      if (!r.file.empty()) {
        error = "one file at a time";
        return false;
      }
      r.file = arg;
      continue;
    }
    bool usedNext = false;
    if (!TakeOption(arg, i + 1 < argc ? argv[i + 1] : nullptr, r, usedNext, error)) return false;
    if (usedNext) ++i;
  }
  if (r.file.empty()) error = "which file?";
  return !r.file.empty();
}

// The cycle's rule: files ending in ".xml" are keyboard layouts.
bool IsKeyboardFile(const std::string& path) {
  return path.size() >= 4 && path.compare(path.size() - 4, 4, ".xml") == 0;
}

}  // namespace

int RunExplainCommand(int argc, char** argv) {
  Request r;
  std::string error;
  if (!Parse(argc, argv, r, error)) return Usage(error);
  std::string bytes;
  const platform::Status read = platform::Env::Default()->ReadFile(r.file, &bytes);
  if (!read.ok()) {
    std::fprintf(stderr, "tovalink explain: %s\n", read.ToString().c_str());
    return 1;
  }
  TExplainReport report;
  report.file = r.file;
  if (IsKeyboardFile(r.file)) {
    ExplainKeyboardFile(bytes, report);
  } else {
    // A parked copy goes to the scale its name carries, with its values.
    const std::string name = platform::ExtractFileName(r.file);
    if (!r.options.scale && IsParkedName(name)) r.options.scale = ScaleNumberFromFileName(name);
    TExplainProfile values;
    if (!BuildExplainProfile(platform::Registry::DefaultPath(), r.options, values, error)) {
      std::fprintf(stderr, "tovalink explain: %s\n", error.c_str());
      return 1;
    }
    report.notes = values.notes;
    ExplainGoodsFile(bytes, values, report);
  }
  PrintReport(report, r.json);
  return report.ExitCode();
}

}  // namespace tv
