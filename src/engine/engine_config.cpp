#include "engine/engine_config.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "config/storeaccess.h"
#include "config/storedpath.h"
#include "config/storedvalues.h"
#include "config/valuecheck.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/service.h"

namespace tv {
namespace {

using platform::Registry;
using platform::RegistryError;
using platform::RegistryKey;
namespace cfg = config;

// How a stored value lands in a field of a settings record.  The table of
// stored values says when each is read; these say where it goes.
template <typename Record>
struct Binding {
  const cfg::StoredValue* value;
  void (*read)(RegistryKey& key, const cfg::StoredValue& v, Record& r);
};

template <auto Field, typename Record>
void Text(RegistryKey& key, const cfg::StoredValue& v, Record& r) {
  r.*Field = cfg::ReadString(key, v);
}

template <auto Field, typename Record>
void Flag(RegistryKey& key, const cfg::StoredValue& v, Record& r) {
  r.*Field = cfg::ReadBool(key, v);
}

// Narrower fields keep the low bits, as the scales' one-byte fields do.
template <auto Field, typename Record, int32_t kMax = INT32_MAX>
void Integer(RegistryKey& key, const cfg::StoredValue& v, Record& r) {
  using T = std::remove_reference_t<decltype(r.*Field)>;
  r.*Field = static_cast<T>(std::min(cfg::ReadInteger(key, v), kMax));
}

// First character of an optional string value; 0 when missing or empty.
template <auto Field, typename Record>
void FirstChar(RegistryKey& key, const cfg::StoredValue& v, Record& r) {
  const std::string text = cfg::ReadString(key, v);
  r.*Field = text.empty() ? 0 : text[0];
}

using E = TEngineSettings;
constexpr Binding<E> kEngineFields[] = {
    {&cfg::kExportDir, Text<&E::ExportDir, E>},
    {&cfg::kLogoDir, Text<&E::LogoDir, E>},
    {&cfg::kVerInterval, Integer<&E::VerInterval, E>},
    {&cfg::kFileMask, Text<&E::FileMask, E>},
    {&cfg::kBarPrefix, Text<&E::BarPrefix, E>},
    {&cfg::kINGRROWCount, Integer<&E::INGRROWCount, E, 15>},
    {&cfg::kSMESSROWCount, Integer<&E::SMESSROWCount, E, 8>},
    {&cfg::kINGRCOLCount, Integer<&E::INGRCOLCount, E>},
    {&cfg::kSMESSCOLCount, Integer<&E::SMESSCOLCount, E>},
    {&cfg::kForceDi30, Flag<&E::ForceDi30, E>},
    {&cfg::kImportType, Integer<&E::ImportType, E>},
    {&cfg::kMaxMessRowCount, Integer<&E::MaxMessRowCount, E>},
    {&cfg::kMonitorIP, Text<&E::MonitorIP, E>},
    {&cfg::kDecimalSeparator, FirstChar<&E::DecimalSeparator, E>},
    {&cfg::kListSeparator, FirstChar<&E::ListSeparator, E>},
    {&cfg::kHostDecimalSeparator, FirstChar<&E::HostDecimalSeparator, E>},
    {&cfg::kHostListSeparator, FirstChar<&E::HostListSeparator, E>},
    {&cfg::kMaxFileSizeMB, Integer<&E::MaxFileSizeMB, E>},
};

using C = TCycleSettings;
constexpr Binding<C> kCycleFields[] = {
    {&cfg::kExportDir, Text<&C::ExportDir, C>},
    {&cfg::kIPAdress, Text<&C::IPAdress, C>},
    {&cfg::kFileMask, Text<&C::FileMask, C>},
    {&cfg::kBarPrefix, Text<&C::BarPrefix, C>},
    {&cfg::kSocketPort, Integer<&C::SocketPort, C>},
    {&cfg::kBarcodeFormat, Integer<&C::BarcodeFormat, C>},
    {&cfg::kLFormat, Integer<&C::LFormat, C>},
    {&cfg::kLabelWidth, Integer<&C::LabelWidth, C>},
    {&cfg::kINGRFontSize, Integer<&C::INGRFontSize, C>},
    {&cfg::kSMessFontSize, Integer<&C::SMessFontSize, C>},
    {&cfg::kNameAlgorithm, Flag<&C::m_iNameAlgorithm, C>},
    {&cfg::kLongBarCode, Flag<&C::LongBarCode, C>},
    {&cfg::kTextToOEM, Flag<&C::TextToOEM, C>},
    {&cfg::kMaxParallelScales, Integer<&C::MaxParallelScales, C>},
    {&cfg::kDeltaDelivery, Flag<&C::DeltaDelivery, C>},
    {&cfg::kFullResyncHours, Integer<&C::FullResyncHours, C>},
};

// Whether every value of the product key that the table reads at one of
// `moments` lands in a field of `fields`, `elsewhere` excepted.
template <typename Record, size_t N>
constexpr bool Covers(const Binding<Record> (&fields)[N], uint8_t moments,
                      std::initializer_list<const cfg::StoredValue*> elsewhere = {}) {
  // Values are told apart by name: the addresses of two different tables'
  // entries are not constants a sanitizer build may compare.
  const auto same = [](const cfg::StoredValue* a, const cfg::StoredValue* b) {
    return a->key == b->key && a->name == b->name;
  };
  for (const cfg::StoredValue* v : cfg::kStoredValues) {
    if (v->key != std::string_view(kProductKey) || (v->reads & moments) == 0) continue;
    bool bound = false;
    for (const cfg::StoredValue* e : elsewhere) bound = bound || same(e, v);
    for (const Binding<Record>& f : fields) bound = bound || same(f.value, v);
    if (!bound) return false;
  }
  return true;
}
// A value the table reads at start or reload that no field takes would be
// read for nothing; the engine reads the servers' values for its listeners.
static_assert(Covers(kEngineFields, cfg::kAtStart | cfg::kAtReload,
                     {&cfg::kParamServerAddress, &cfg::kStatusServerAddress, &cfg::kRemoteAllow,
                      &cfg::kMetricsAddress}));
static_assert(Covers(kCycleFields, cfg::kAtCycle));

// Reads every value of the product key that the table reads at `moment`
// into its field of `r`, in table order.  Values read at that moment into
// no field of this record (the servers' addresses) are left to their
// readers.
template <typename Record, size_t N>
void ReadProductValues(RegistryKey& key, uint8_t moment, const Binding<Record> (&fields)[N],
                       Record& r) {
  for (const cfg::StoredValue* v : cfg::ValuesOf(kProductKey)) {
    if ((v->reads & moment) == 0) continue;
    for (const Binding<Record>& f : fields)
      if (f.value == v) f.read(key, *v, r);
  }
}

// Empty names and network shares cannot become directories; any other
// failure shows later, when the file functions meet the missing directory.
platform::Status MakeDirectories(const TEngineSettings& s) {
  if (s.ExportDir.empty() || s.LogoDir.empty())
    return platform::Refusal(
        std::string(s.ExportDir.empty() ? cfg::kExportDir.name : cfg::kLogoDir.name) +
        " is empty: no directory can be made from it");
  for (const auto* v : {&cfg::kExportDir, &cfg::kLogoDir}) {
    const std::string& value = v == &cfg::kExportDir ? s.ExportDir : s.LogoDir;
    if (cfg::IsNetworkSharePath(value))
      return platform::Refusal("settings: " +
                               cfg::NetworkShareRefusal(std::string(v->name), value));
  }
  for (const std::string& dir : {s.ExportDir, s.ExportDir + "\\Unsent", s.LogoDir}) {
    const std::string path = platform::MapPath(dir);
    const platform::Status status = platform::Env::Default()->CreateDirectories(path);
    if (!status.ok())
      platform::LogError("directory %s (from %s) cannot be made: %s", path.c_str(), dir.c_str(),
                         status.ToString().c_str());
  }
  return platform::Status::OK();
}

// Reads one scale table when its key opens: the count becomes its
// TotalNumber and `out` gets `read(key, i)` for i from 1 to the count.
template <typename T, typename Read>
void ReadTable(Registry& reg, const cfg::StoredValue& total, int32_t& count, std::vector<T>& out, Read read) {
  RegistryKey key = reg.OpenReadOnly(std::string(total.key));
  if (!key) return;
  count = std::max<int32_t>(0, cfg::ReadInteger(key, total));
  out.clear();
  // Entries are read one by one: a bogus TotalNumber fails at its first
  // missing entry instead of reserving memory for it.
  for (int32_t i = 1; i <= count; ++i) out.push_back(read(key, static_cast<uint32_t>(i)));
}

uint8_t LowByte(int32_t v) { return static_cast<uint8_t>(v & 0xFF); }

}  // namespace

void CreateDefaults(Registry& reg) {
  for (const char* path : kStoreKeys) {
    if (reg.KeyExists(path)) continue;
    RegistryKey key = reg.Open(path, true);
    if (!key) throw RegistryError(std::string("cannot create HKCU\\") + path);
    for (const cfg::StoredValue* v : cfg::ValuesOf(path))
      if (v->written) cfg::WriteDefault(key, *v);
  }
}

platform::Status StartRead(Registry& reg, TEngineSettings& s) {
  {
    RegistryKey key = reg.OpenReadOnly(kProductKey);
    if (!key) throw RegistryError(std::string("cannot open HKCU\\") + kProductKey);
    ReadProductValues(key, cfg::kAtStart, kEngineFields, s);
  }
  return ReloadSettings(reg, s);
}

std::map<std::string, std::string> ReloadValuesAsStored(Registry& reg) {
  std::map<std::string, std::string> out;
  RegistryKey key = reg.OpenReadOnly(kProductKey);
  for (const cfg::StoredValue* v : cfg::ValuesOf(kProductKey)) {
    if ((v->reads & cfg::kAtReload) == 0) continue;
    const std::string name(v->name);
    std::optional<platform::RegValue> stored;
    if (key) stored = key.ReadValue(name);
    out[name] = !stored ? "" : stored->type == platform::RegType::DWord ? std::to_string(stored->number) : stored->text;
  }
  return out;
}

std::string DescribeReloadChanges(const std::map<std::string, std::string>& before,
                                  const std::map<std::string, std::string>& after) {
  std::string out;
  for (const auto& [name, value] : after) {
    const auto was = before.find(name);
    if (was != before.end() && was->second == value) continue;
    const std::string old = was == before.end() ? "" : was->second;
    out += (out.empty() ? "" : ", ") + name + " " + (old.empty() ? "(none)" : old) + " -> " +
           (value.empty() ? "(none)" : value);
  }
  return out;
}

platform::Status ReloadSettings(Registry& reg, TEngineSettings& s) {
  try {
    RegistryKey key = reg.OpenReadOnly(kProductKey);
    if (!key) throw RegistryError(std::string("cannot open HKCU\\") + kProductKey);
    ReadProductValues(key, cfg::kAtReload, kEngineFields, s);
  } catch (const RegistryError& e) {
    return platform::Refusal(std::string("settings: ") + e.what());
  }
  platform::Status made = MakeDirectories(s);
  if (!made.ok()) return made;
  return ProveDirectoriesWritable(s.ExportDir, s.LogoDir, platform::RunBySystemd());
}

platform::Status ProveDirectoriesWritable(const std::string& exportDir, const std::string& logoDir,
                                          bool systemdFix) {
  for (const std::string& dir : {exportDir, exportDir + "\\Unsent", logoDir}) {
    const std::string path = platform::MapPath(dir);
    const platform::Status status = platform::ProveWritable(*platform::Env::Default(), path);
    if (status.ok()) continue;
    const char* harm = dir == logoDir
                           ? "the delivery log could not be written"
                           : "delivered files could not be removed and would be delivered again";
    std::string refusal = "directory " + path + " is not writable for the service (" +
                          status.ToString() + "): " + harm + "; ";
    if (systemdFix)
      return platform::Refusal(
          refusal +
          "give the service's user write permission on it, and let the unit write there: run " +
          "`systemctl edit tovalink` and add the lines \"[Service]\" and \"ReadWritePaths=" + path +
          "\"");
    return platform::Refusal(refusal + "give the user the service runs as write permission on it");
  }
  return platform::Status::OK();
}

TCycleSettings CycleRead(Registry& reg) {
  TCycleSettings c;
  RegistryKey key = reg.OpenReadOnly(kProductKey);
  if (!key) return c;
  ReadProductValues(key, cfg::kAtCycle, kCycleFields, c);
  c.SearchMask = c.ExportDir + "\\" + c.FileMask;
  return c;
}

TCycleSettings CheckedCycleRead(Registry& reg) {
  TCycleSettings c = CycleRead(reg);
  if (std::string problem = cfg::AddressPrefixProblem(c.IPAdress); !problem.empty())
    throw RegistryError(problem);
  return c;
}

TDeviceTables DeviceTableRead(Registry& reg, int32_t barcodeFormat) {
  TDeviceTables t;
  // One snapshot for all five tables: the store CLI may rewrite them while
  // a cycle starts, and a cycle must see them all before or all after.
  // An exception on the way ends it unused.
  platform::RegistryTransaction snapshot(reg, false);
  const uint8_t defaultBarcode = LowByte(barcodeFormat);
  ReadTable(reg, cfg::kDevicesCount, t.ScaleCount, t.ScaleNumbers, [](RegistryKey& key, uint32_t i) {
    return cfg::ReadInteger(key, cfg::kDevicesEntry, i);
  });
  int32_t count = t.ScaleCount;
  t.DeviceTypes.assign(count, 0);
  ReadTable(reg, cfg::kDeviceTypesCount, count, t.DeviceTypes, [](RegistryKey& key, uint32_t i) {
    return LowByte(cfg::ReadInteger(key, cfg::kDeviceTypesEntry, i));
  });
  t.BarcodeTypes.assign(count, defaultBarcode);
  ReadTable(reg, cfg::kBarcodeTypesCount, count, t.BarcodeTypes, [](RegistryKey& key, uint32_t i) {
    return LowByte(cfg::ReadInteger(key, cfg::kBarcodeTypesEntry, i));
  });
  t.UseByInDays.assign(count, false);
  t.ConstBarcode.assign(count, false);
  ReadTable(reg, cfg::kUseByInDaysCount, count, t.UseByInDays, [](RegistryKey& key, uint32_t i) {
    return cfg::ReadBool(key, cfg::kUseByInDaysEntry, i);
  });
  ReadTable(reg, cfg::kConstBCCount, count, t.ConstBarcode, [](RegistryKey& key, uint32_t i) {
    return cfg::ReadBool(key, cfg::kConstBCEntry, i);
  });
  snapshot.Commit();
  // Tables that disagree with Devices: the cycle never indexes past the
  // scale numbers, and the other tables are padded to that length.
  t.ScaleCount = static_cast<int32_t>(t.ScaleNumbers.size());
  size_t n = t.ScaleNumbers.size();
  t.DeviceTypes.resize(n, 0);
  t.BarcodeTypes.resize(n, defaultBarcode);
  t.UseByInDays.resize(n, false);
  t.ConstBarcode.resize(n, false);
  return t;
}

void WriteResult(Registry& reg, int scaleNumber, bool success) {
  RegistryKey key = reg.Open(kDeviceResultsKey, true);
  if (!key) return;
  key.WriteInteger(cfg::NameFor(cfg::kDeviceResult, scaleNumber), success ? 1 : 0);
}

void WriteResults(Registry& reg, const std::vector<TScaleResult>& results) {
  if (results.empty()) return;
  platform::RegistryTransaction transaction(reg, true);
  RegistryKey key = reg.Open(kDeviceResultsKey, true);
  if (!key) return;
  for (const TScaleResult& r : results)
    key.WriteInteger(cfg::NameFor(cfg::kDeviceResult, r.scaleNumber), r.success ? 1 : 0);
  transaction.Commit();
}

}  // namespace tv
