#include "cli/scalelist.h"

#include <cctype>

#include "config/settings.h"
#include "engine/engine_config.h"
#include "scale/scaletypes.h"

namespace tv {
namespace {

using platform::Registry;
using platform::RegistryKey;
namespace cfg = config;

// Each table: its TotalNumber and its "Scale#" entries, and what an entry
// of it holds.
struct Table {
  const cfg::StoredValue* count;
  const cfg::StoredValue* entry;
  int32_t (*value)(const ScaleEntry&);
};
constexpr Table kTables[] = {
    {&cfg::kDevicesCount, &cfg::kDevicesEntry, [](const ScaleEntry& s) -> int32_t { return s.number; }},
    {&cfg::kDeviceTypesCount, &cfg::kDeviceTypesEntry, [](const ScaleEntry& s) -> int32_t { return s.type; }},
    {&cfg::kBarcodeTypesCount, &cfg::kBarcodeTypesEntry,
     [](const ScaleEntry& s) -> int32_t { return s.barcodeType; }},
    {&cfg::kUseByInDaysCount, &cfg::kUseByInDaysEntry,
     [](const ScaleEntry& s) -> int32_t { return s.useByInDays ? 1 : 0; }},
    {&cfg::kConstBCCount, &cfg::kConstBCEntry, [](const ScaleEntry& s) -> int32_t { return s.constBarcode ? 1 : 0; }},
};

struct TypeName {
  TScaleType type;
  const char* name;
};
constexpr TypeName kTypeNames[] = {
    {TScaleType::Pole, "Pole"},          {TScaleType::Bench, "Bench"},   {TScaleType::SelfService, "SelfService"},
    {TScaleType::BigPlatform, "BigPlatform"}, {TScaleType::SM3600, "SM3600"}, {TScaleType::SM700, "SM700"},
};

std::string Fold(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The 1-based index of a value named like `entry` ("Scale" + digits, any
// case, leading zeros too), 0 for any other name.
int EntryIndex(const cfg::StoredValue& entry, const std::string& name) {
  const std::string head = Fold(std::string(entry.name.substr(0, entry.name.find('#'))));
  const std::string folded = Fold(name);
  if (folded.rfind(head, 0) != 0 || folded.size() == head.size() || folded.size() > head.size() + 9) return 0;
  for (size_t i = head.size(); i < folded.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(folded[i]))) return 0;
  long long index = std::stoll(folded.substr(head.size()));
  return index > 0 && index < (1 << 30) ? static_cast<int>(index) : 0;
}

void SaveTable(Registry& reg, const Table& table, const std::vector<ScaleEntry>& scales) {
  const std::string path(table.count->key);
  RegistryKey key = reg.Open(path, true);
  if (!key) throw platform::RegistryError("cannot create HKCU\\" + path);
  const int count = static_cast<int>(scales.size());
  for (int i = 0; i < count; ++i) key.WriteInteger(cfg::NameFor(*table.entry, i + 1), table.value(scales[i]));
  for (const platform::RegValue& v : key.ListValues())
    if (EntryIndex(*table.entry, v.name) > count) key.DeleteValue(v.name);
  key.WriteInteger(cfg::NameFor(*table.count), count);
}

}  // namespace

std::optional<int32_t> StoredInteger(Registry& reg, const cfg::StoredValue& v) {
  RegistryKey key = reg.OpenReadOnly(std::string(v.key));
  if (!key) return std::nullopt;
  std::optional<platform::RegValue> r = key.ReadValue(cfg::NameFor(v));
  if (!r || r->type != platform::RegType::DWord) return std::nullopt;
  return static_cast<int32_t>(r->number);
}

int32_t StoredIntegerOrDefault(Registry& reg, const cfg::StoredValue& v) {
  return StoredInteger(reg, v).value_or(static_cast<int32_t>(v.number));
}

std::vector<ScaleEntry> LoadScaleList(Registry& reg) {
  // Without a readable BarcodeFormat the cycle could not start at all; its
  // default stands in.
  TDeviceTables t = DeviceTableRead(reg, StoredIntegerOrDefault(reg, cfg::kBarcodeFormat));
  std::vector<ScaleEntry> out;
  for (size_t i = 0; i < t.ScaleNumbers.size(); ++i)
    out.push_back(ScaleEntry{t.ScaleNumbers[i], t.DeviceTypes[i], t.BarcodeTypes[i], t.UseByInDays[i],
                             t.ConstBarcode[i]});
  return out;
}

void SaveScaleList(Registry& reg, const std::vector<ScaleEntry>& scales) {
  for (const Table& table : kTables) SaveTable(reg, table, scales);
}

std::string ScaleTypeName(uint8_t type) {
  for (const TypeName& t : kTypeNames)
    if (static_cast<uint8_t>(t.type) == type) return t.name;
  return "type " + std::to_string(type);
}

std::optional<uint8_t> ParseScaleType(const std::string& name) {
  for (const TypeName& t : kTypeNames)
    if (Fold(name) == Fold(t.name)) return static_cast<uint8_t>(t.type);
  return std::nullopt;
}

std::string ScaleTypeNames() {
  std::string out;
  for (const TypeName& t : kTypeNames) out += (out.empty() ? "" : ", ") + std::string(t.name);
  return out;
}

}  // namespace tv
