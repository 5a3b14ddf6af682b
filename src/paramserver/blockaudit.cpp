#include "paramserver/blockaudit.h"

#include "config/storedvalues.h"

namespace tv {
namespace {

constexpr const char* kUnset = "(unset)";

std::string TextOf(const platform::RegValue& v) {
  return v.type == platform::RegType::String ? "\"" + v.text + "\"" : std::to_string(v.number);
}

std::string ShortKey(std::string_view key) {
  const size_t slash = key.find_last_of('\\');
  return std::string(slash == std::string_view::npos ? key : key.substr(slash + 1));
}

std::string ReadTable(platform::Registry& reg, std::string_view path) {
  platform::RegistryKey key = reg.OpenReadOnly(std::string(path));
  if (!key) return kUnset;
  auto total = key.ReadValue("TotalNumber");
  if (!total || total->type != platform::RegType::DWord) return kUnset;
  std::string list = "[";
  // A table never holds more than 255 entries when a block wrote it; the
  // bound keeps a hand-edited TotalNumber from running away.
  for (uint32_t i = 1; i <= total->number && i <= 255; ++i) {
    auto entry = key.ReadValue("Scale" + std::to_string(i));
    if (i > 1) list += ",";
    list += entry ? TextOf(*entry) : "?";
  }
  return list + "]";
}

}  // namespace

TBlockValues ReadBlockValues(platform::GuardedRegistry& registry) {
  TBlockValues out;
  try {
    auto reg = registry.Lock();
    platform::RegistryKey product = reg->OpenReadOnly(kProductKey);
    for (const config::StoredValue* v : config::kStoredValues) {
      if (!v->remote || v->name.find('#') != std::string_view::npos) continue;
      if (v->key != kProductKey) {
        out.emplace_back(ShortKey(v->key), ReadTable(*reg, v->key));  // its TotalNumber
        continue;
      }
      auto value = product ? product.ReadValue(std::string(v->name)) : std::nullopt;
      out.emplace_back(std::string(v->name), value ? TextOf(*value) : kUnset);
    }
  } catch (const platform::RegistryError&) {
    // What could be read stands; the rest is compared as missing.
  }
  return out;
}

std::string DescribeChanges(const TBlockValues& before, const TBlockValues& after) {
  std::string changes;
  size_t unchanged = 0;
  for (const auto& [name, now] : after) {
    std::string was = kUnset;
    for (const auto& [n, v] : before)
      if (n == name) was = v;
    if (was == now) {
      ++unchanged;
      continue;
    }
    if (!changes.empty()) changes += ", ";
    changes += name + " " + was + " -> " + now;
  }
  if (changes.empty()) return "no value changed";
  return changes + "; " + std::to_string(unchanged) + (unchanged == 1 ? " value" : " values") +
         " unchanged";
}

}  // namespace tv
