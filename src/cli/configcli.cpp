#include "cli/configcli.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/exitcode.h"
#include "cli/options.h"
#include "cli/regcli.h"
#include "cli/scalelist.h"
#include "cli/storecli.h"
#include "config/storedvalues.h"
#include "config/storekeys.h"
#include "config/valuecheck.h"
#include "engine/storecheck.h"
#include "platform/registry.h"
#include "platform/storefile.h"

namespace tv {
namespace {

using platform::Registry;
using platform::RegType;
using platform::RegValue;
namespace cfg = config;

constexpr const char* kUsage =
    "usage: tovalink config dump              print the configuration as a commented file\n"
    "       tovalink config apply FILE [--dry-run]  make the store say what FILE says\n";
constexpr const char* kScalesSection = "[scales]";

// The file as read: the stored values by their table name, and the list.
struct Configuration {
  std::map<std::string, RegValue> values;  // by the table's spelling
  std::vector<ScaleEntry> scales;
};

std::vector<const cfg::StoredValue*> ProductValues() { return cfg::ValuesOf(kProductKey); }

std::string Shown(const RegValue& v) {
  return v.type == RegType::String ? "\"" + v.text + "\"" : std::to_string(v.number);
}

// The meaning of a value as the table tells it: its type, its default,
// when the service reads it and who may write it.
std::string Meaning(const cfg::StoredValue& v) {
  std::string m = v.boolean ? "flag (0 off, 1 on)" : v.type == RegType::String ? "text" : "number";
  if (auto range = cfg::RangeOf(v); range && !v.boolean)
    m += " " + std::to_string(range->min) + ".." + std::to_string(range->max);
  m += v.written ? ", default " +
                       Shown(RegValue{std::string(v.name), v.type, std::string(v.text), v.number})
                 : ", unset by default";
  switch (cfg::WhenEffective(v)) {
    case cfg::TakesEffect::NextCycle: m += ", read at every cycle"; break;
    case cfg::TakesEffect::NextBlock: m += ", read for every parameter block"; break;
    case cfg::TakesEffect::NextStart:
      m += (v.reads & cfg::kAtReload) ? ", read at reload and start" : ", read at start";
      break;
    case cfg::TakesEffect::Never: break;
  }
  if (!v.required) m += ", optional";
  if (v.remote) m += ", also written through port 3057";
  return m;
}

std::string TypeWord(uint8_t type) {
  const std::string name = ScaleTypeName(type);
  return ParseScaleType(name) ? name : std::to_string(type);
}

// ---- dump

int Dump(std::ostream& out, std::ostream& err) {
  NameStore(err, Registry::DefaultPath());
  Registry reg(StorePathForReading());
  platform::RegistryTransaction snapshot(reg, false);
  platform::RegistryKey product = reg.OpenReadOnly(kProductKey);
  // No store path or date in it: the same configuration gives the same
  // file on every machine, for a repository to compare.
  out << "# Tovalink configuration\n"
      << "# Written by `tovalink config dump`; `tovalink config apply FILE` makes a store say\n"
      << "# the same.  NAME = \"TEXT\" or NAME = NUMBER, one value a line; a value left out\n"
      << "# (or commented out) is removed from the store and its default stands in.\n\n";
  for (const cfg::StoredValue* v : ProductValues()) {
    const std::string name(v->name);
    std::optional<RegValue> value;
    if (product) value = product.ReadValue(name);
    if (value && value->type == RegType::String && value->text.find('\n') != std::string::npos) {
      err << "tovalink config: " << name << " holds a line break, which the file cannot keep\n";
      return cli::kExitFailed;
    }
    out << "# " << name << ": " << Meaning(*v) << "\n";
    if (value)
      out << name << " = " << Shown(*value) << "\n";
    else
      out << "# " << name << " is not set\n";
  }
  out << "\n"
      << kScalesSection << "\n"
      << "# The scale list: one scale a line.  type: " << ScaleTypeNames() << " (or its number);\n"
      << "# barcode: the barcode type 0..255; use-by-days and const-barcode: yes or no.\n"
      << cli::Format("# %-6s %-10s %-8s %-12s %s\n", "scale", "type", "barcode", "use-by-days",
                     "const-barcode");
  for (const ScaleEntry& s : LoadScaleList(reg))
    out << cli::Format("  %-6d %-10s %-8u %-12s %s\n", s.number, TypeWord(s.type).c_str(),
                       unsigned{s.barcodeType}, s.useByInDays ? "yes" : "no",
                       s.constBarcode ? "yes" : "no");
  snapshot.Commit();
  return cli::kExitDone;
}

// ---- reading the file

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

bool ParseYesNo(const std::string& word, bool& out) {
  if (word != "yes" && word != "no") return false;
  out = word == "yes";
  return true;
}

// One value line; "" when taken, else the problem.
std::string ReadValueLine(const std::string& line, Configuration& c) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) return "expected NAME = VALUE";
  const std::string name = Trim(line.substr(0, eq));
  const std::string data = Trim(line.substr(eq + 1));
  const cfg::StoredValue* v = cfg::FindStoredValue(kProductKey, name);
  if (!v || v->name.find('#') != std::string_view::npos) {
    const std::string nearest = cfg::NearestName(kProductKey, name);
    return "the service knows no value '" + name + "'" +
           (nearest.empty() ? "" : "; did you mean '" + nearest + "'?");
  }
  RegValue value{std::string(v->name), RegType::String, "", 0};
  if (data.size() >= 2 && data.front() == '"' && data.back() == '"') {
    value.text = data.substr(1, data.size() - 2);
  } else {
    // The whole DWORD range, as `reg add` stores it; digits only.
    const char* end = data.data() + data.size();
    const auto parsed = std::from_chars(data.data(), end, value.number);
    if (data.empty() || data[0] == '-' || parsed.ec != std::errc() || parsed.ptr != end)
      return "'" + data + "' is neither \"TEXT\" nor a number 0 to 4294967295";
    value.type = RegType::DWord;
  }
  if (!c.values.emplace(value.name, value).second) return value.name + " is given twice";
  return "";
}

std::string ReadScaleLine(const std::string& line, Configuration& c) {
  std::istringstream words(line);
  std::string number, type, barcode, useBy, constBc, extra;
  words >> number >> type >> barcode >> useBy >> constBc >> extra;
  if (constBc.empty() || !extra.empty()) return "a scale line has five columns";
  ScaleEntry s;
  int n = 0;
  if (!cli::ParseNumber(number, 1, 255, n))
    return "scale number '" + number + "' is not from 1 to 255";
  s.number = n;
  if (auto t = ParseScaleType(type))
    s.type = *t;
  else if (cli::ParseNumber(type, 0, 255, n))
    s.type = static_cast<uint8_t>(n);
  else
    return "type '" + type + "' is none of " + ScaleTypeNames();
  if (!cli::ParseNumber(barcode, 0, 255, n))
    return "barcode type '" + barcode + "' is not from 0 to 255";
  s.barcodeType = static_cast<uint8_t>(n);
  if (!ParseYesNo(useBy, s.useByInDays) || !ParseYesNo(constBc, s.constBarcode))
    return "use-by-days and const-barcode are yes or no";
  for (const ScaleEntry& other : c.scales)
    if (other.number == s.number) return "scale " + number + " is listed twice";
  c.scales.push_back(s);
  return "";
}

// Every problem of the file, "FILE:LINE: why"; none when it can be applied.
std::vector<std::string> ReadConfiguration(const std::string& file, std::istream& in,
                                           Configuration& c) {
  std::vector<std::string> problems;
  std::string line;
  bool inScales = false;
  for (int number = 1; std::getline(in, line); ++number) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    std::string why;
    if (line == kScalesSection)
      inScales = true;
    else
      why = inScales ? ReadScaleLine(line, c) : ReadValueLine(line, c);
    if (!why.empty()) problems.push_back(file + ":" + std::to_string(number) + ": " + why);
  }
  // The rules `check` and `reg add` judge a value by.
  for (const cfg::StoredValue* v : ProductValues()) {
    auto it = c.values.find(std::string(v->name));
    if (it != c.values.end()) {
      if (std::string p = cfg::ValueProblem(*v, it->first, it->second); !p.empty())
        problems.push_back(file + ": " + p);
    } else if (v->required && v->written) {
      problems.push_back(file + ": " + std::string(v->name) + " is missing; the service needs it");
    }
  }
  return problems;
}

// ---- applying

std::string Describe(const ScaleEntry& s) {
  return TypeWord(s.type) + " barcode " + std::to_string(s.barcodeType) + " use-by-days " +
         (s.useByInDays ? "yes" : "no") + " const-barcode " + (s.constBarcode ? "yes" : "no");
}

bool Same(const ScaleEntry& a, const ScaleEntry& b) {
  return a.number == b.number && a.type == b.type && a.barcodeType == b.barcodeType &&
         a.useByInDays == b.useByInDays && a.constBarcode == b.constBarcode;
}

bool Same(const RegValue& a, const RegValue& b) {
  return a.type == b.type && (a.type == RegType::String ? a.text == b.text : a.number == b.number);
}

// Makes the store say what `c` says; the changes, one line each.
std::vector<std::string> Changes(Registry& reg, const Configuration& c) {
  std::vector<std::string> changes;
  platform::RegistryKey product = reg.Open(kProductKey, true);
  for (const cfg::StoredValue* v : ProductValues()) {
    const std::string name(v->name);
    const std::optional<RegValue> now = product.ReadValue(name);
    auto wanted = c.values.find(name);
    if (wanted == c.values.end()) {
      if (!now) continue;
      changes.push_back("remove " + name + " (was " + Shown(*now) + ")");
      product.DeleteValue(name);
    } else if (!now || !Same(*now, wanted->second)) {
      changes.push_back("set " + name + " = " + Shown(wanted->second) +
                        (now ? " (was " + Shown(*now) + ")" : ""));
      if (wanted->second.type == RegType::String)
        product.WriteString(name, wanted->second.text);
      else
        product.WriteInteger(name, static_cast<int32_t>(wanted->second.number));
    }
  }
  const std::vector<ScaleEntry> before = LoadScaleList(reg);
  bool listChanged = before.size() != c.scales.size();
  for (size_t i = 0; !listChanged && i < before.size(); ++i)
    listChanged = !Same(before[i], c.scales[i]);
  if (!listChanged) return changes;
  const size_t valueChanges = changes.size();
  std::map<int, const ScaleEntry*> old;
  for (const ScaleEntry& s : before) old[s.number] = &s;
  for (const ScaleEntry& s : c.scales) {
    auto it = old.find(s.number);
    if (it == old.end())
      changes.push_back("add scale " + std::to_string(s.number) + ": " + Describe(s));
    else if (!Same(*it->second, s))
      changes.push_back("change scale " + std::to_string(s.number) + ": " + Describe(s));
    if (it != old.end()) old.erase(it);
  }
  for (const auto& [number, s] : old) changes.push_back("remove scale " + std::to_string(number));
  if (changes.size() == valueChanges) changes.push_back("reorder the scale list");
  SaveScaleList(reg, c.scales);
  return changes;
}

void AskForReload(std::ostream& out) {
  const ServiceProbe probe;
  if (!probe.Running()) {
    out << "no service runs on this store; it reads the configuration when it starts\n";
    return;
  }
  if (probe.Pid() > 0 && platform::SignalReload(probe.Pid()).ok()) {
    out << "asked the service (pid " << probe.Pid() << ") to reload\n";
    return;
  }
  out << "could not signal the service: reload it with `systemctl reload tovalink`\n";
}

int Apply(const std::string& file, bool dryRun, std::ostream& out, std::ostream& err) {
  std::ifstream in(file);
  if (!in) {
    err << "tovalink config: cannot read " << file << "\n";
    return cli::kExitFailed;
  }
  Configuration c;
  const std::vector<std::string> problems = ReadConfiguration(file, in, c);
  for (const std::string& p : problems) err << "tovalink config: " << p << "\n";
  if (!problems.empty()) {
    err << "tovalink config: " << file << " is invalid; nothing written\n";
    return cli::kExitInvalidFile;
  }
  const std::string path = Registry::DefaultPath();
  NameStore(err, path, !dryRun);
  Registry reg(dryRun ? StorePathForReading() : path);
  // One transaction: a cycle reads the old configuration or the new, never
  // a mixture; a dry run or a refused file rolls it back.
  platform::RegistryTransaction transaction(reg, true);
  const bool fresh = WriteDefaultsIfNew(reg);
  const std::vector<std::string> changes = Changes(reg, c);
  // The store as it would be, judged as `check` judges it: a value fine on
  // its own can still clash with the rest (the ports, the scale tables).
  TCheckReport report;
  CheckOpenStore(reg, platform::Regional::FromProcessLocale(), report);
  if (!report.Passed()) {
    for (const TCheckFinding& f : report.findings)
      if (f.level != TCheckLevel::Note) err << "tovalink config: " << f.text << "\n";
    err << "tovalink config: " << file << " is invalid; nothing written\n";
    return cli::kExitInvalidFile;
  }
  for (const std::string& line : changes) out << (dryRun ? "would " : "") << line << "\n";
  if (dryRun) return cli::kExitDone;
  transaction.Commit();
  if (fresh) DefaultsNotice(path, out);
  if (changes.empty()) {
    out << "unchanged\n";
    return cli::kExitDone;
  }
  AskForReload(out);
  return cli::kExitDone;
}

int Dispatch(int argc, char** argv, std::ostream& out, std::ostream& err) {
  if (argc < 1) {
    err << "tovalink config: a subcommand is needed\n" << kUsage;
    return cli::kExitUsage;
  }
  const std::string verb = argv[0];
  bool dryRun = false;
  const cli::ParseResult r =
      cli::ParseOptions(argc - 1, argv + 1,
                        verb == "apply" ? std::vector<cli::Option>{{"dry-run", false, 256}}
                                        : std::vector<cli::Option>{},
                        [&](int, const char*) {
                          dryRun = true;
                          return std::string();
                        });
  if (cli::IsHelp(verb) || r.outcome == cli::Parsed::kHelp) {
    out << kUsage;
    return cli::kExitDone;
  }
  std::string problem;
  if (verb != "dump" && verb != "apply")
    problem = "unknown subcommand '" + verb + "'";
  else if (!r.unexpected.empty())
    problem = "unexpected argument '" + r.unexpected + "'";
  else if (r.positional.size() != (verb == "apply" ? 1u : 0u))
    problem = verb == "apply" ? "apply needs one FILE" : "dump takes no argument";
  if (!problem.empty()) {
    err << "tovalink config: " << problem << "\n" << kUsage;
    return cli::kExitUsage;
  }
  if (!ActAsStoreOwner(err)) return cli::kExitFailed;
  return verb == "dump" ? Dump(out, err) : Apply(r.positional[0], dryRun, out, err);
}

}  // namespace

int RunConfigCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  try {
    return Dispatch(argc, argv, out, err);
  } catch (const platform::RegistryError& e) {
    err << "tovalink config: " << StoreErrorText(e) << "\n";
    return cli::kExitFailed;
  }
}

int RunConfigCommand(int argc, char** argv) {
  return RunConfigCommand(argc, argv, std::cout, std::cerr);
}

}  // namespace tv
