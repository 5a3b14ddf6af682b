// The scale list as the store keeps it: entry i of the five device tables
// (Devices, DeviceTypes, DeviceBarcodeTypes, DeviceUseByInDays,
// DeviceConstBC) describes one scale.  The list is loaded and saved as a
// whole, so every table keeps its entries and the same TotalNumber.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/storedvalues.h"
#include "platform/registry.h"

namespace tv {

struct ScaleEntry {
  int32_t number = 0;
  uint8_t type = 0;  // TScaleType
  uint8_t barcodeType = 0;
  bool useByInDays = false;
  bool constBarcode = false;
};

// The tables as an export cycle reads them (missing tables give the cycle's
// defaults).  Throws RegistryError on a missing or mistyped entry.
std::vector<ScaleEntry> LoadScaleList(platform::Registry& reg);

// Rewrites the five tables from `scales`: entries 1..N and TotalNumber N in
// each, stale entries above N deleted, other values of the keys kept.  The
// caller wraps it in a write transaction so no reader sees half of it.
void SaveScaleList(platform::Registry& reg, const std::vector<ScaleEntry>& scales);

// "Pole", "Bench", ... for a stored device type; "type N" for an unknown one.
std::string ScaleTypeName(uint8_t type);
// The device type of a name, without regard to case.
std::optional<uint8_t> ParseScaleType(const std::string& name);
// The names ParseScaleType accepts, separated by ", ".
std::string ScaleTypeNames();

// The stored value of entry `v` if it is stored as a DWORD.
std::optional<int32_t> StoredInteger(platform::Registry& reg, const config::StoredValue& v);
// The same, or the entry's default when it is missing or not a DWORD.
int32_t StoredIntegerOrDefault(platform::Registry& reg, const config::StoredValue& v);

}  // namespace tv
