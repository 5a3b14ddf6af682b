#include "cli/scalecli.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/storeaccess.h"
#include "config/storedvalues.h"
#include "decode/json.h"
#include "platform/registry.h"
#include "cli/parkedfiles.h"
#include "cli/regcli.h"
#include "cli/scalelist.h"

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
};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "tovalink scale: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

int Refuse(const std::string& reason) {
  std::fprintf(stderr, "tovalink scale: %s\n", reason.c_str());
  return 1;
}

// A whole decimal number from `min` to `max`.
bool ParseNumber(const std::string& text, int min, int max, int& out) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::stoi(text);
  return out >= min && out <= max;
}

bool ParseChanges(int argc, char** argv, int first, Changes& c, std::string& error) {
  for (int i = first; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasNext = i + 1 < argc;
    if (arg == "--type") {
      if (!hasNext || !(c.type = ParseScaleType(argv[++i]))) {
        error = "--type needs one of " + ScaleTypeNames();
        return false;
      }
    } else if (arg == "--barcode-type") {
      int n = 0;
      if (!hasNext || !ParseNumber(argv[++i], 0, 255, n)) {
        error = "--barcode-type needs a number from 0 to 255";
        return false;
      }
      c.barcodeType = static_cast<uint8_t>(n);
    } else if (arg == "--use-by-days" || arg == "--no-use-by-days") {
      c.useByInDays = arg == "--use-by-days";
    } else if (arg == "--const-barcode" || arg == "--no-const-barcode") {
      c.constBarcode = arg == "--const-barcode";
    } else {
      error = "unexpected argument '" + arg + "'";
      return false;
    }
  }
  return true;
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
int ChangeList(Edit edit) {
  const std::string path = Registry::DefaultPath();
  NameStore(path, true);
  Registry reg(path);
  platform::RegistryTransaction transaction(reg, true);
  const bool fresh = WriteDefaultsIfNew(reg);
  std::vector<ScaleEntry> list = LoadScaleList(reg);
  std::string message;
  if (int code = edit(reg, list, message); code != 0) return Refuse(message);
  SaveScaleList(reg, list);
  transaction.Commit();
  if (fresh) DefaultsNotice(path);
  std::printf("%s (%zu scale%s in the list)\n", message.c_str(), list.size(), list.size() == 1 ? "" : "s");
  return 0;
}

std::string NotListed(int number) { return "scale " + std::to_string(number) + " is not in the list"; }

int Add(int number, const Changes& c) {
  if (!c.type) return Usage("add needs --type (" + ScaleTypeNames() + ")");
  return ChangeList([&](Registry& reg, std::vector<ScaleEntry>& list, std::string& message) {
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

int Set(int number, const Changes& c) {
  if (!c.type && !c.barcodeType && !c.useByInDays && !c.constBarcode) return Usage("set needs something to change");
  return ChangeList([&](Registry&, std::vector<ScaleEntry>& list, std::string& message) {
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

int Remove(int number) {
  return ChangeList([&](Registry&, std::vector<ScaleEntry>& list, std::string& message) {
    // Every entry of the number goes: a repeat would keep it delivering.
    size_t before = list.size();
    list.erase(std::remove_if(list.begin(), list.end(), [&](const ScaleEntry& s) { return s.number == number; }),
               list.end());
    if (list.size() == before) {
      message = NotListed(number);
      return 1;
    }
    message = "removed scale " + std::to_string(number);
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

void PrintTable(const std::vector<ScaleView>& views) {
  if (views.empty()) {
    std::printf("No scales in the scale list.\n");
    return;
  }
  std::printf("%-6s %-16s %-6s %-12s %-8s %-26s %-10s %s\n", "Scale", "Address", "Port", "Type", "Barcode",
              "Flags", "Last", "Parked");
  for (const ScaleView& v : views)
    std::printf("%-6d %-16s %-6d %-12s %-8u %-26s %-10s %d\n", v.entry.number, v.address.c_str(), v.port,
                ScaleTypeName(v.entry.type).c_str(), unsigned{v.entry.barcodeType}, Flags(v.entry).c_str(),
                LastResult(v).c_str(), v.parked);
}

void PrintJson(const std::vector<ScaleView>& views) {
  std::printf("[");
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
    std::printf("%s%s", i ? ",\n " : "\n ", j.Text().c_str());
  }
  std::printf(views.empty() ? "]\n" : "\n]\n");
}

int List(int argc, char** argv) {
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) != "--json") return Usage("unexpected argument '" + std::string(argv[i]) + "'");
    json = true;
  }
  NameStore(Registry::DefaultPath());
  Registry reg(StorePathForReading());
  std::vector<ScaleView> views = View(reg);
  if (json)
    PrintJson(views);
  else
    PrintTable(views);
  return 0;
}

int Dispatch(int argc, char** argv) {
  if (argc < 1) return Usage("a subcommand is needed");
  const std::string verb = argv[0];
  if (verb == "list") return List(argc, argv);
  if (verb != "add" && verb != "remove" && verb != "set") return Usage("unknown subcommand '" + verb + "'");
  int number = 0;
  if (argc < 2) return Usage(verb + " needs a scale number");
  if (!ParseNumber(argv[1], 1, 255, number))
    return Refuse("scale number '" + std::string(argv[1]) + "' is not from 1 to 255");
  Changes changes;
  std::string error;
  if (!ParseChanges(argc, argv, 2, changes, error)) return Usage(error);
  if (verb == "add") return Add(number, changes);
  if (verb == "set") return Set(number, changes);
  if (argc > 2) return Usage("remove takes only the scale number");
  return Remove(number);
}

}  // namespace

int RunScaleCommand(int argc, char** argv) {
  try {
    return Dispatch(argc, argv);
  } catch (const platform::RegistryError& e) {
    return Refuse(StoreErrorText(e));
  }
}

}  // namespace tv
