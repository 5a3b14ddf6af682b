#include "service/scalelist.h"

#include <cctype>

#include "engine/settings.h"
#include "engine/unengine_config.h"
#include "scale/scaletypes.h"

namespace tv {
namespace {

using platform::Registry;

// Each table and what an entry of it holds.
struct Table {
  const char* key;
  int32_t (*value)(const ScaleEntry&);
};
constexpr Table kTables[] = {
    {kDevicesKey, [](const ScaleEntry& s) -> int32_t { return s.number; }},
    {kDeviceTypesKey, [](const ScaleEntry& s) -> int32_t { return s.type; }},
    {kDeviceBarcodeTypesKey, [](const ScaleEntry& s) -> int32_t { return s.barcodeType; }},
    {kDeviceUseByInDaysKey, [](const ScaleEntry& s) -> int32_t { return s.useByInDays ? 1 : 0; }},
    {kDeviceConstBCKey, [](const ScaleEntry& s) -> int32_t { return s.constBarcode ? 1 : 0; }},
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

// The 1-based index of an entry name "Scale<digits>", 0 for any other name.
int EntryIndex(const std::string& name) {
  std::string folded = Fold(name);
  if (folded.rfind("scale", 0) != 0 || folded.size() == 5 || folded.size() > 14) return 0;
  for (size_t i = 5; i < folded.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(folded[i]))) return 0;
  long long index = std::stoll(folded.substr(5));
  return index > 0 && index < (1 << 30) ? static_cast<int>(index) : 0;
}

void SaveTable(Registry& reg, const Table& table, const std::vector<ScaleEntry>& scales) {
  if (!reg.OpenKey(table.key, true)) throw platform::RegistryError(std::string("cannot create ") + table.key);
  const int count = static_cast<int>(scales.size());
  for (int i = 0; i < count; ++i) reg.WriteInteger("Scale" + std::to_string(i + 1), table.value(scales[i]));
  for (const platform::RegValue& v : reg.ListValues())
    if (EntryIndex(v.name) > count) reg.DeleteValue(v.name);
  reg.WriteInteger("TotalNumber", count);
  reg.CloseKey();
}

}  // namespace

std::optional<int32_t> StoredInteger(Registry& reg, const char* name) {
  if (!reg.OpenKeyReadOnly(kProductKey)) return std::nullopt;
  std::optional<platform::RegValue> v = reg.ReadValue(name);
  reg.CloseKey();
  if (!v || v->type != platform::RegType::DWord) return std::nullopt;
  return static_cast<int32_t>(v->number);
}

std::vector<ScaleEntry> LoadScaleList(Registry& reg) {
  // Without a readable BarcodeFormat the cycle could not start at all; 5
  // is its stored default.
  TDeviceTables t = DeviceTableRead(reg, StoredInteger(reg, "BarcodeFormat").value_or(5));
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
