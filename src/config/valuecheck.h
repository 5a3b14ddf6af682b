// The rules a stored value must keep for the service to work with it: the
// type it is read as, the form of the address prefix and the range of a
// number.  `reg add`, `check`, the start and every cycle judge by these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config/storedvalues.h"
#include "platform/registry.h"

namespace tv::config {

struct ValueRange {
  int64_t min;
  int64_t max;
};

// The numbers the service can work with for `v`; none for a value whose
// every number is taken.
std::optional<ValueRange> RangeOf(const StoredValue& v);

// "" when `prefix` is three dotted numbers 0 to 255 and a dot
// ("192.168.0."); else why not, naming IPAdress.
std::string AddressPrefixProblem(const std::string& prefix);

// "" when `value`, stored as `name`, suits the entry `v`; else one sentence
// naming the value and what it must be.
std::string ValueProblem(const StoredValue& v, const std::string& name,
                         const platform::RegValue& value);

}  // namespace tv::config
