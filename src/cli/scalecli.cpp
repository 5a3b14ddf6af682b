#include "cli/scalecli.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/exitcode.h"
#include "cli/options.h"
#include "cli/parkedfiles.h"
#include "cli/regcli.h"
#include "cli/scalelist.h"
#include "config/storeaccess.h"
#include "config/storedvalues.h"
#include "decode/json.h"
#include "platform/registry.h"

namespace tv {
namespace {

using platform::Registry;
using platform::RegistryKey;
namespace cfg = config;

constexpr const char* kUsage =
    "usage: tovalink scale list [--json]\n"
    "       tovalink scale add N --type NAME [--barcode-type N] [--use-by-days] [--const-barcode]\n"
    "       tovalink scale set N [--type NAME] [--barcode-type N] [--[no-]use-by-days] [--[no-]const-barcode]\n"
    "       tovalink scale remove N\n";

// What add and set were asked to change; unset members stay as they are.
struct Changes {
  std::optional<uint8_t> type;
  std::optional<uint8_t> barcodeType;
  std::optional<bool> useByInDays;
  std::optional<bool> constBarcode;
  bool outOfRange = false;  // a number given, but one the service cannot use
};

// Where a run writes: its output and its errors.
struct Io {
  std::ostream& out;
  std::ostream& err;
};

int Usage(Io io, const std::string& problem) {
  io.err << "tovalink scale: " << problem << "\n" << kUsage;
  return cli::kExitUsage;
}

int Refuse(Io io, const std::string& reason) {
  io.err << "tovalink scale: " << reason << "\n";
  return cli::kExitFailed;
}

enum : int {
  kJson = 256,
  kType,
  kBarcodeType,
  kUseByDays,
  kNoUseByDays,
  kConstBarcode,
  kNoConstBarcode
};

const std::vector<cli::Option> kChangeOptions = {{"type", true, kType},
                                                 {"barcode-type", true, kBarcodeType},
                                                 {"use-by-days", false, kUseByDays},
                                                 {"no-use-by-days", false, kNoUseByDays},
                                                 {"const-barcode", false, kConstBarcode},
                                                 {"no-const-barcode", false, kNoConstBarcode}};

std::string TakeChange(int id, const char* value, Changes& c) {
  int n = 0;
  switch (id) {
    case kType:
      if (!value || !(c.type = ParseScaleType(value)))
        return "--type needs one of " + ScaleTypeNames();
      break;
    case kBarcodeType:
      if (!value || !cli::ParseNumber(value, 0, 255, n)) {
        c.outOfRange = value && cli::ParseNumber(value, 0, 999999, n);
        return "--barcode-type needs a number from 0 to 255";
      }
      c.barcodeType = static_cast<uint8_t>(n);
      break;
    case kUseByDays:
    case kNoUseByDays: c.useByInDays = id == kUseByDays; break;
    case kConstBarcode:
    case kNoConstBarcode: c.constBarcode = id == kConstBarcode; break;
  }
  return "";
}

void Apply(const Changes& c, ScaleEntry& s) {
  if (c.type) s.type = *c.type;
  if (c.barcodeType) s.barcodeType = *c.barcodeType;
  if (c.useByInDays) s.useByInDays = *c.useByInDays;
  if (c.constBarcode) s.constBarcode = *c.constBarcode;
}

std::string Flags(const ScaleEntry& s) {
  std::string out;
  if (s.useByInDays) out = "use-by-days";
  if (s.constBarcode) out += (out.empty() ? "" : ",") + std::string("const-barcode");
  return out.empty() ? "-" : out;
}

std::string Describe(const ScaleEntry& s) {
  return "scale " + std::to_string(s.number) + ": " + ScaleTypeName(s.type) + ", barcode type " +
         std::to_string(s.barcodeType) + ", flags " + Flags(s);
}

auto FindScale(std::vector<ScaleEntry>& list, int number) {
  return std::find_if(list.begin(), list.end(), [&](const ScaleEntry& s) { return s.number == number; });
}

// Loads, edits and saves the list in one write transaction: a cycle reading
// the tables meanwhile sees them all before or all after the change, and a
// refused change leaves no trace, the defaults of a new store included.
// `edit` answers 0, or an exit code with the reason in `message`.
template <typename Edit>
int ChangeList(Io io, Edit edit) {
  const std::string path = Registry::DefaultPath();
  NameStore(io.err, path, true);
  Registry reg(path);
  platform::RegistryTransaction transaction(reg, true);
  const bool fresh = WriteDefaultsIfNew(reg);
  std::vector<ScaleEntry> list = LoadScaleList(reg);
  std::string message;
  if (int code = edit(reg, list, message); code != 0) return Refuse(io, message);
  SaveScaleList(reg, list);
  transaction.Commit();
  if (fresh) DefaultsNotice(path, io.out);
  io.out << message << " (" << list.size() << " scale" << (list.size() == 1 ? "" : "s")
         << " in the list)\n";
  return cli::kExitDone;
}

std::string NotListed(int number) { return "scale " + std::to_string(number) + " is not in the list"; }

int Add(Io io, int number, const Changes& c) {
  if (!c.type) return Usage(io, "add needs --type (" + ScaleTypeNames() + ")");
  return ChangeList(io, [&](Registry& reg, std::vector<ScaleEntry>& list, std::string& message) {
    if (FindScale(list, number) != list.end()) {
      message = "scale " + std::to_string(number) + " is already in the list";
      return 1;
    }
    // Without --barcode-type, what a scale without a barcode table entry gets.
    ScaleEntry s;
    s.number = number;
    s.barcodeType = static_cast<uint8_t>(StoredIntegerOrDefault(reg, cfg::kBarcodeFormat) & 0xFF);
    Apply(c, s);
    list.push_back(s);
    message = "added " + Describe(s);
    return 0;
  });
}

int Set(Io io, int number, const Changes& c) {
  if (!c.type && !c.barcodeType && !c.useByInDays && !c.constBarcode)
    return Usage(io, "set needs something to change");
  return ChangeList(io, [&](Registry&, std::vector<ScaleEntry>& list, std::string& message) {
    auto it = FindScale(list, number);
    if (it == list.end()) {
      message = NotListed(number);
      return 1;
    }
    Apply(c, *it);
    message = "changed " + Describe(*it);
    return 0;
  });
}

// A removed scale's parked files are never delivered; the operator hears
// how many it leaves and how to drop them.
std::string LeftParked(Registry& reg, int number) {
  std::vector<ParkedFile> files;
  std::string ignored;
  if (!ListParkedFiles(reg, files, ignored)) return {};
  const auto count = std::count_if(files.begin(), files.end(),
                                   [&](const ParkedFile& f) { return f.scale == number; });
  if (count == 0) return {};
  const std::string n = std::to_string(number);
  return "; it leaves " + std::to_string(count) + (count == 1 ? " parked file" : " parked files") +
         " that no cycle delivers: `tovalink unsent drop --scale " + n + " --all` drops " +
         (count == 1 ? "it" : "them");
}

int Remove(Io io, int number) {
  return ChangeList(io, [&](Registry& reg, std::vector<ScaleEntry>& list, std::string& message) {
    // Every entry of the number goes: a repeat would keep it delivering.
    size_t before = list.size();
    list.erase(std::remove_if(list.begin(), list.end(), [&](const ScaleEntry& s) { return s.number == number; }),
               list.end());
    if (list.size() == before) {
      message = NotListed(number);
      return 1;
    }
    message = "removed scale " + std::to_string(number) + LeftParked(reg, number);
    return 0;
  });
}

// What the service's store knows about one scale besides its entry.
struct ScaleView {
  ScaleEntry entry;
  std::string address;
  int port = 0;
  std::optional<bool> lastDelivered;  // DeviceResults; none before the first attempt
  int parked = 0;
};

std::vector<ScaleView> View(Registry& reg) {
  std::vector<ScaleView> out;
  // Everything from one snapshot, as a cycle reads its tables.
  platform::RegistryTransaction snapshot(reg, false);
  std::string prefix;
  if (RegistryKey product = reg.OpenReadOnly(kProductKey)) prefix = cfg::ReadString(product, cfg::kIPAdress);
  const int portBase = StoredInteger(reg, cfg::kSocketPort).value_or(0);
  std::map<int, int> parked;
  std::vector<ParkedFile> files;
  std::string ignored;  // no ExportDir: nothing can be parked
  if (ListParkedFiles(reg, files, ignored))
    for (const ParkedFile& f : files) ++parked[f.scale];
  // DeviceResults values are named by the scale number.
  std::map<std::string, bool> results;
  if (RegistryKey key = reg.OpenReadOnly(std::string(cfg::kDeviceResult.key))) {
    for (const platform::RegValue& r : key.ListValues())
      if (r.type == platform::RegType::DWord) results[r.name] = r.number != 0;
  }
  for (const ScaleEntry& e : LoadScaleList(reg)) {
    ScaleView v{e, prefix + std::to_string(e.number), portBase + e.number, std::nullopt, parked[e.number]};
    if (auto r = results.find(cfg::NameFor(cfg::kDeviceResult, e.number)); r != results.end())
      v.lastDelivered = r->second;
    out.push_back(v);
  }
  snapshot.Commit();
  return out;
}

std::string LastResult(const ScaleView& v) {
  if (!v.lastDelivered) return "-";
  return *v.lastDelivered ? "delivered" : "failed";
}

void PrintTable(const std::vector<ScaleView>& views, std::ostream& out) {
  if (views.empty()) {
    out << "No scales in the scale list.\n";
    return;
  }
  out << cli::Format("%-6s %-16s %-6s %-12s %-8s %-26s %-10s %s\n", "Scale", "Address", "Port",
                     "Type", "Barcode", "Flags", "Last", "Parked");
  for (const ScaleView& v : views)
    out << cli::Format("%-6d %-16s %-6d %-12s %-8u %-26s %-10s %d\n", v.entry.number,
                       v.address.c_str(), v.port, ScaleTypeName(v.entry.type).c_str(),
                       unsigned{v.entry.barcodeType}, Flags(v.entry).c_str(), LastResult(v).c_str(),
                       v.parked);
}

void PrintJson(const std::vector<ScaleView>& views, std::ostream& out) {
  out << "[";
  for (size_t i = 0; i < views.size(); ++i) {
    const ScaleView& v = views[i];
    decode::JsonObject j;
    j.Int("scale", v.entry.number).Str("address", v.address).Int("port", v.port);
    j.Str("type", ScaleTypeName(v.entry.type)).Int("type_code", v.entry.type);
    j.Int("barcode_type", v.entry.barcodeType).Bool("use_by_days", v.entry.useByInDays);
    j.Bool("const_barcode", v.entry.constBarcode);
    if (v.lastDelivered)
      j.Str("last_result", LastResult(v));
    else
      j.Null("last_result");
    j.Int("parked", v.parked);
    out << (i ? ",\n " : "\n ") << j.Text();
  }
  out << (views.empty() ? "]\n" : "\n]\n");
}

int List(Io io, bool json) {
  NameStore(io.err, Registry::DefaultPath());
  Registry reg(StorePathForReading());
  std::vector<ScaleView> views = View(reg);
  if (json)
    PrintJson(views, io.out);
  else
    PrintTable(views, io.out);
  return cli::kExitDone;
}

// The verb's arguments: list takes --json, add and set the changes.
cli::ParseResult ParseVerb(const std::string& verb, int argc, char** argv, bool& json,
                           Changes& changes) {
  if (verb == "list")
    return cli::ParseOptions(argc, argv, {{"json", false, kJson}}, [&](int, const char*) {
      json = true;
      return std::string();
    });
  return cli::ParseOptions(
      argc, argv, verb == "remove" ? std::vector<cli::Option>{} : kChangeOptions,
      [&](int id, const char* value) { return TakeChange(id, value, changes); });
}

int Dispatch(Io io, int argc, char** argv) {
  if (argc < 1) return Usage(io, "a subcommand is needed");
  const std::string verb = argv[0];
  if (cli::IsHelp(verb)) {
    io.out << kUsage;
    return cli::kExitDone;
  }
  if (verb != "list" && verb != "add" && verb != "remove" && verb != "set")
    return Usage(io, "unknown subcommand '" + verb + "'");
  bool json = false;
  Changes changes;
  const cli::ParseResult r = ParseVerb(verb, argc - 1, argv + 1, json, changes);
  if (r.outcome == cli::Parsed::kHelp) {
    io.out << kUsage;
    return cli::kExitDone;
  }
  if (!r.problem.empty())
    return changes.outOfRange ? Refuse(io, r.problem + "; nothing written") : Usage(io, r.problem);
  if (!r.unexpected.empty() && verb == "remove")
    return Usage(io, "remove takes only the scale number");
  if (!r.unexpected.empty()) return Usage(io, "unexpected argument '" + r.unexpected + "'");
  if (verb == "list") {
    if (!r.positional.empty()) return Usage(io, "unexpected argument '" + r.positional[0] + "'");
    if (!ActAsStoreOwner(io.err)) return cli::kExitFailed;
    return List(io, json);
  }
  if (r.positional.empty()) return Usage(io, verb + " needs a scale number");
  int number = 0;
  if (!cli::ParseNumber(r.positional[0], 1, 255, number))
    return Refuse(io, "scale number '" + r.positional[0] + "' is not from 1 to 255");
  if (r.positional.size() > 1)
    return Usage(io, verb == "remove" ? "remove takes only the scale number"
                                      : "unexpected argument '" + r.positional[1] + "'");
  if (!ActAsStoreOwner(io.err)) return cli::kExitFailed;
  if (verb == "add") return Add(io, number, changes);
  if (verb == "set") return Set(io, number, changes);
  return Remove(io, number);
}

}  // namespace

int RunScaleCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  const Io io{out, err};
  try {
    return Dispatch(io, argc, argv);
  } catch (const platform::RegistryError& e) {
    return Refuse(io, StoreErrorText(e));
  }
}

int RunScaleCommand(int argc, char** argv) {
  return RunScaleCommand(argc, argv, std::cout, std::cerr);
}

}  // namespace tv
