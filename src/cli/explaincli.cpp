#include "cli/explaincli.h"

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/exitcode.h"
#include "cli/explainfile.h"
#include "cli/options.h"
#include "cli/regcli.h"
#include "cli/scalelist.h"
#include "files/parkedname.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "scale/scaletypes.h"

namespace tv {
namespace {

constexpr const char* kUsage =
    "usage: tovalink explain FILE [--json] [--scale N] [--import-type N] [--scale-type NAME]\n"
    "           [--barcode-type N] [--[no-]use-by-days] [--[no-]const-barcode] [--set "
    "NAME=VALUE]...\n"
    "           [--locale-decimal-separator C] [--locale-list-separator C]\n";

// A wrong command line exits 1, as the manual says: explain's 2 means a
// skipped line.
int Usage(std::ostream& err, const std::string& problem) {
  err << "tovalink explain: " << problem << "\n" << kUsage;
  return cli::kExitFailed;
}

struct Request {
  std::string file;
  bool json = false;
  TExplainOptions options;
};

enum : int {
  kJson = 256,
  kUseByDays,
  kNoUseByDays,
  kConstBarcode,
  kNoConstBarcode,
  kScale,
  kImportType,
  kBarcodeType,
  kScaleType,
  kSet,
  kLocaleDecimal,
  kLocaleList
};

const std::vector<cli::Option> kOptions = {{"json", false, kJson},
                                           {"use-by-days", false, kUseByDays},
                                           {"no-use-by-days", false, kNoUseByDays},
                                           {"const-barcode", false, kConstBarcode},
                                           {"no-const-barcode", false, kNoConstBarcode},
                                           {"scale", true, kScale},
                                           {"import-type", true, kImportType},
                                           {"barcode-type", true, kBarcodeType},
                                           {"scale-type", true, kScaleType},
                                           {"set", true, kSet},
                                           {"locale-decimal-separator", true, kLocaleDecimal},
                                           {"locale-list-separator", true, kLocaleList}};

const char* NameOf(int id) {
  for (const cli::Option& o : kOptions)
    if (o.id == id) return o.name;
  return "";
}

// One option with its value, if it takes one; "" when taken, else the problem.
std::string TakeOption(int id, const char* value, Request& r) {
  TExplainOptions& o = r.options;
  const std::string option = std::string("--") + NameOf(id);
  if (id == kJson) r.json = true;
  if (id == kUseByDays || id == kNoUseByDays) o.useByInDays = id == kUseByDays;
  if (id == kConstBarcode || id == kNoConstBarcode) o.constBarcode = id == kConstBarcode;
  if (id < kScale) return "";
  if (!value) return "unexpected argument '" + option + "'";
  const std::string v = value;
  int n = 0;
  if (id == kScale && cli::ParseNumber(v, 0, 255, n)) {
    o.scale = n;
  } else if (id == kImportType && cli::ParseNumber(v, 0, 255, n)) {
    o.importType = static_cast<uint8_t>(n);
  } else if (id == kBarcodeType && cli::ParseNumber(v, 0, 255, n)) {
    o.barcodeType = static_cast<uint8_t>(n);
  } else if (id == kScaleType) {
    if (!(o.scaleType = ParseScaleType(v))) return "--scale-type needs one of " + ScaleTypeNames();
  } else if (id == kSet && v.find('=') != std::string::npos) {
    o.stored[v.substr(0, v.find('='))] = v.substr(v.find('=') + 1);
  } else if ((id == kLocaleDecimal || id == kLocaleList) && v.size() == 1) {
    (id == kLocaleList ? o.localeList : o.localeDecimal) = v[0];
  } else {
    return "unexpected argument '" + option + " " + v + "'";
  }
  return "";
}

// With kOk, `r.file` names the one file.
cli::ParseResult Parse(int argc, char** argv, Request& r) {
  cli::ParseResult p = cli::ParseOptions(
      argc, argv, kOptions, [&](int id, const char* value) { return TakeOption(id, value, r); });
  if (p.outcome != cli::Parsed::kOk) return p;
  p.outcome = cli::Parsed::kProblem;
  if (p.positional.size() > 1)
    p.problem = "one file at a time";
  else if (p.positional.empty())
    p.problem = "which file?";
  else
    p.outcome = cli::Parsed::kOk;
  if (p.outcome == cli::Parsed::kOk) r.file = p.positional[0];
  return p;
}

// The cycle's rule: files ending in ".xml" are keyboard layouts.
bool IsKeyboardFile(const std::string& path) {
  return path.size() >= 4 && path.compare(path.size() - 4, 4, ".xml") == 0;
}

std::optional<std::vector<int>> Sm700Scales() {
  try {
    platform::Registry reg(StorePathForReading());
    std::vector<int> out;
    for (const ScaleEntry& s : LoadScaleList(reg))
      if (s.type == static_cast<uint8_t>(TScaleType::SM700)) out.push_back(s.number);
    return out;
  } catch (const platform::RegistryError&) {
    return std::nullopt;
  }
}

}  // namespace

int RunExplainCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Request r;
  const cli::ParseResult parsed = Parse(argc, argv, r);
  if (parsed.outcome == cli::Parsed::kHelp) {
    out << kUsage;
    return cli::kExitDone;
  }
  if (!parsed.unexpected.empty())
    return Usage(err, "unexpected argument '" + parsed.unexpected + "'");
  if (parsed.outcome == cli::Parsed::kProblem) return Usage(err, parsed.problem);
  std::string bytes;
  const platform::Status read = platform::Env::Default()->ReadFile(r.file, &bytes);
  if (!read.ok()) {
    err << "tovalink explain: " << read.ToString() << "\n";
    return cli::kExitFailed;
  }
  TExplainReport report;
  report.file = r.file;
  if (IsKeyboardFile(r.file)) {
    ExplainKeyboardFile(bytes, Sm700Scales(), report);
  } else {
    // A parked copy goes to the scale its name carries, with its values.
    const std::string name = platform::ExtractFileName(r.file);
    if (!r.options.scale && IsParkedName(name)) r.options.scale = ScaleNumberFromFileName(name);
    TExplainProfile values;
    std::string error;
    if (!BuildExplainProfile(platform::Registry::DefaultPath(), r.options, values, error)) {
      err << "tovalink explain: " << error << "\n";
      return cli::kExitFailed;
    }
    report.notes = values.notes;
    ExplainGoodsFile(bytes, values, report);
  }
  PrintReport(report, r.json, out);
  return report.ExitCode();
}

int RunExplainCommand(int argc, char** argv) {
  return RunExplainCommand(argc, argv, std::cout, std::cerr);
}

}  // namespace tv
