// The configuration store routines: defaults on first start, the engine's
// start read and reload, the cycle's read of its settings and scale tables,
// and the per-scale result write.  Names, types, defaults and the moments
// each value is read come from the table of stored values
// (config/storedvalues.h); engine_config.cpp says which field takes it.
// Each routine opens the keys it needs on the Registry it is given; callers
// that share a Registry hold its lock around the call.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/registry.h"
#include "platform/status.h"

namespace tv {

// Creates the product key with its defaults when it is missing, then every
// missing sub-key with its default table.  Existing keys are not touched.
void CreateDefaults(platform::Registry& reg);

// The start read followed by the reload routine.  Throws RegistryError when
// a value of the start read is missing or of the wrong type, or the product
// key cannot be opened; fails as the reload does.
platform::Status StartRead(platform::Registry& reg, TEngineSettings& s);

// Re-reads the reload values into `s` and makes sure ExportDir, its
// "Unsent" folder and LogoDir exist.  Fails, with the line the service log
// gets, when a read or a directory operation failed; `s` is then unusable
// and must not be published.  A directory that cannot be made is logged
// here and shows later, when the file functions meet it.
platform::Status ReloadSettings(platform::Registry& reg, TEngineSettings& s);

// The values a reload reads, by name, as the store holds them ("" when
// missing): what the line "settings reloaded" compares.
std::map<std::string, std::string> ReloadValuesAsStored(platform::Registry& reg);
// "VerInterval 10 -> 30, FileMask *.* -> *.txt"; "" when none changed.
std::string DescribeReloadChanges(const std::map<std::string, std::string>& before,
                                  const std::map<std::string, std::string>& after);

// Proves that a file can be created and removed in ExportDir, its "Unsent"
// folder and LogoDir.  When it cannot, the refusal names the first directory
// that fails, the reason and how to fix it (with `systemdFix`, the drop-in
// that lets a sandboxed unit write there).
platform::Status ProveDirectoriesWritable(const std::string& exportDir, const std::string& logoDir,
                                          bool systemdFix);

// Cycle settings; fields stay empty or zero when the product key is missing.
// Throws RegistryError when a value is missing or of the wrong type.
TCycleSettings CycleRead(platform::Registry& reg);
// CycleRead, and a RegistryError naming IPAdress too when the address
// prefix cannot give a scale's address.
TCycleSettings CheckedCycleRead(platform::Registry& reg);

// Reads the scale tables, all five from one snapshot of the store.  A
// table that cannot be opened keeps the defaults (BarcodeFormat for barcode
// types, false flags).  Throws RegistryError on a missing or mistyped entry.
TDeviceTables DeviceTableRead(platform::Registry& reg, int32_t barcodeFormat);

// Writes DeviceResults\<scaleNumber> = 1 for success, 0 for failure,
// creating the key when missing.
void WriteResult(platform::Registry& reg, int scaleNumber, bool success);

struct TScaleResult {
  int scaleNumber = 0;
  bool success = false;
};
// WriteResult for each of `results` in their order, all in one transaction,
// so a batch of scales costs one commit.  Throws RegistryError; nothing is
// written then.
void WriteResults(platform::Registry& reg, const std::vector<TScaleResult>& results);

}  // namespace tv
