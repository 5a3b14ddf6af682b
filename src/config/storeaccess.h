// Reads and writes of the table's entries through an open key: the name
// comes from the entry, and so does the policy: a required value that is
// missing (integers) or mistyped fails the read with a RegistryError naming
// it, an optional one gives its default instead.
#pragma once

#include <cstdint>
#include <string>

#include "config/storedvalues.h"
#include "platform/registry.h"

namespace tv::config {

// `n` numbers a "Scale#" or "#" entry.
int32_t ReadInteger(platform::RegistryKey& key, const StoredValue& v, uint32_t n = 1);
bool ReadBool(platform::RegistryKey& key, const StoredValue& v, uint32_t n = 1);
std::string ReadString(platform::RegistryKey& key, const StoredValue& v);

// The default a first start writes; "Scale#" entries write Scale1.
void WriteDefault(platform::RegistryKey& key, const StoredValue& v);

}  // namespace tv::config
