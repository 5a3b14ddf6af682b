// The configuration store routines: defaults on first start, the engine's
// start read and reload, the cycle's read of its settings and scale tables,
// and the per-scale result write.  Each routine opens and closes the keys it
// needs on the Registry it is given; callers that share a Registry hold its
// lock around the call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/settings.h"
#include "platform/registry.h"

namespace tv {

// The settings an export cycle works from, read when it is created.
struct TCycleSettings {
  std::string IPAdress;
  int32_t SocketPort = 0;
  std::string ExportDir;
  std::string SearchMask;  // ExportDir + "\" + FileMask
  std::string BarPrefix;
  int32_t BarcodeFormat = 0;
  int32_t LFormat = 0;
  int32_t LabelWidth = 0;
  int32_t INGRFontSize = 0;
  int32_t SMessFontSize = 0;
  bool m_iNameAlgorithm = false;
  bool LongBarCode = false;
  bool TextToOEM = false;
};

// The five scale tables as one cycle sees them; entry i of each describes
// the same scale.
struct TDeviceTables {
  int32_t ScaleCount = 0;
  std::vector<int32_t> ScaleNumbers;
  std::vector<uint8_t> DeviceTypes;
  std::vector<uint8_t> BarcodeTypes;
  std::vector<bool> UseByInDays;
  std::vector<bool> ConstBarcode;
};

// Creates the product key with its defaults when it is missing, then every
// missing sub-key with its default table.  Existing keys are not touched.
void CreateDefaults(platform::Registry& reg);

// The start read followed by the reload routine.  Throws RegistryError when
// a required value is missing or of the wrong type, or the product key
// cannot be opened; returns false when the reload could not make the
// directories.
bool StartRead(platform::Registry& reg, TEngineSettings& s);

// Re-reads the reload values into `s` and makes sure ExportDir, its
// "Unsent" folder and LogoDir exist.  False when a read or a directory
// operation failed; `s` is then unusable and must not be published.
bool ReloadSettings(platform::Registry& reg, TEngineSettings& s);

// Cycle settings; fields stay empty or zero when the product key is missing.
// Throws RegistryError when a value is missing or of the wrong type.
TCycleSettings CycleRead(platform::Registry& reg);

// Reads the scale tables.  A table that cannot be opened keeps the defaults
// (BarcodeFormat for barcode types, false flags).  Throws RegistryError on a
// missing or mistyped entry.
TDeviceTables DeviceTableRead(platform::Registry& reg, int32_t barcodeFormat);

// Writes DeviceResults\<scaleNumber> = 1 for success, 0 for failure,
// creating the key when missing.
void WriteResult(platform::Registry& reg, int scaleNumber, bool success);

}  // namespace tv
