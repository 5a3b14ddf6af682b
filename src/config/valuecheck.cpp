#include "config/valuecheck.h"

#include <cctype>

namespace tv::config {
namespace {

const char* TypeName(platform::RegType t) {
  return t == platform::RegType::DWord ? "REG_DWORD" : "REG_SZ";
}

// Numbers beyond these bounds stop deliveries or make no sense to the
// scales: a port past the last scale's, a check interval of 0 s, an
// ImportType that reads no line, a batch of no scale, a flag that is neither 0 nor 1.
std::optional<ValueRange> NamedRange(const StoredValue& v) {
  if (&v == &kSocketPort) return ValueRange{1, 65535 - 255};
  if (&v == &kVerInterval) return ValueRange{1, 86400};
  if (&v == &kImportType) return ValueRange{0, 2};
  if (&v == &kMaxParallelScales) return ValueRange{1, 255};
  if (&v == &kDevicesEntry) return ValueRange{1, 255};
  if (&v == &kDeviceTypesEntry) return ValueRange{0, 5};
  if (&v == &kBarcodeTypesEntry) return ValueRange{0, 255};
  if (&v == &kDevicesCount || &v == &kDeviceTypesCount || &v == &kBarcodeTypesCount ||
      &v == &kUseByInDaysCount || &v == &kConstBCCount)
    return ValueRange{0, 255};
  return std::nullopt;
}

bool IsNumberPart(const std::string& part) {
  if (part.empty() || part.size() > 3) return false;
  for (char c : part)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return std::stoi(part) <= 255;
}

}  // namespace

std::optional<ValueRange> RangeOf(const StoredValue& v) {
  if (v.type != platform::RegType::DWord) return std::nullopt;
  if (v.boolean) return ValueRange{0, 1};
  return NamedRange(v);
}

std::string AddressPrefixProblem(const std::string& prefix) {
  size_t pos = 0;
  bool ok = !prefix.empty() && prefix.back() == '.';
  for (int part = 0; ok && part < 3; ++part) {
    const size_t dot = prefix.find('.', pos);
    ok = dot != std::string::npos && IsNumberPart(prefix.substr(pos, dot - pos));
    pos = dot + 1;
  }
  if (ok && pos == prefix.size()) return {};
  return "IPAdress \"" + prefix +
         "\" is not three dotted numbers 0 to 255 and a dot (such as \"192.168.0.\")";
}

std::string ValueProblem(const StoredValue& v, const std::string& name,
                         const platform::RegValue& value) {
  if (value.type != v.type)
    return name + " is read as " + TypeName(v.type) + ", not " + TypeName(value.type);
  if (&v == &kIPAdress) return AddressPrefixProblem(value.text);
  const std::optional<ValueRange> range = RangeOf(v);
  const auto number = static_cast<int64_t>(static_cast<int32_t>(value.number));
  if (range && (number < range->min || number > range->max))
    return name + " " + std::to_string(number) + " is outside " + std::to_string(range->min) +
           " to " + std::to_string(range->max);
  return {};
}

}  // namespace tv::config
