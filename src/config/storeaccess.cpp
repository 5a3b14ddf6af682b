#include "config/storeaccess.h"

namespace tv::config {

int32_t ReadInteger(platform::RegistryKey& key, const StoredValue& v, uint32_t n) {
  if (v.required) return key.ReadInteger(NameFor(v, n));
  try {
    return key.ReadInteger(NameFor(v, n));
  } catch (const platform::RegistryError&) {
    return static_cast<int32_t>(v.number);
  }
}

bool ReadBool(platform::RegistryKey& key, const StoredValue& v, uint32_t n) {
  return ReadInteger(key, v, n) != 0;
}

std::string ReadString(platform::RegistryKey& key, const StoredValue& v) {
  const std::string name(v.name);
  if (v.required) return key.ReadString(name);
  try {
    return key.ValueExists(name) ? key.ReadString(name) : std::string(v.text);
  } catch (const platform::RegistryError&) {
    return std::string(v.text);
  }
}

void WriteDefault(platform::RegistryKey& key, const StoredValue& v) {
  if (v.type == platform::RegType::String)
    key.WriteString(NameFor(v), std::string(v.text));
  else
    key.WriteInteger(NameFor(v), static_cast<int32_t>(v.number));
}

}  // namespace tv::config
