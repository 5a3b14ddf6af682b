// The engine's and the cycle's copies of the stored settings, and the flags
// the engine shares with its servers.  Plain data, readable by every layer:
// the file functions, the scale clients and the servers take what they need
// from these records instead of reading the store.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/engineflags.h"
#include "config/storedvalues.h"
#include "config/storekeys.h"

namespace tv {

// The engine settings that decide how goods text is read and laid out;
// a scale's profile carries the same fields, copied from the engine's
// snapshot.
struct TGoodsTextSettings {
  uint8_t ImportType = 0;
  int32_t MaxMessRowCount = static_cast<int32_t>(config::kMaxMessRowCount.number);
  int32_t INGRROWCount = 0;   // at most 15
  int32_t SMESSROWCount = 0;  // at most 8
  int32_t INGRCOLCount = 0;
  int32_t SMESSCOLCount = 0;
  bool ForceDi30 = false;
  char DecimalSeparator = 0;  // 0: the host's
  char ListSeparator = 0;     // 0: the host's

  bool operator==(const TGoodsTextSettings&) const = default;
};

// Settings held by TEngine.  Paths are kept as stored (Windows form); the
// host layer maps them when a file is touched.
struct TEngineSettings : TGoodsTextSettings {
  std::string ExportDir;
  std::string FileMask;
  std::string LogoDir;
  std::string BarPrefix;
  int32_t VerInterval = 0;
  // Goods files larger than this are rejected.
  uint32_t MaxFileSizeMB = config::kMaxFileSizeMB.number;
  std::string MonitorIP;
  char HostDecimalSeparator = 0;  // 0: the locale's
  char HostListSeparator = 0;     // 0: the locale's (or HostDecimalSeparator's)
};

using TEngineSettingsPtr = std::shared_ptr<const TEngineSettings>;

// The engine's settings, replaced as one whole snapshot by a reload while
// other threads read them: a reader holds its snapshot for as long as it
// needs it and never sees a half-replaced value.
class TSettingsHolder {
 public:
  TEngineSettingsPtr Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
  }
  void Set(TEngineSettingsPtr next) {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = std::move(next);
  }

 private:
  mutable std::mutex mutex_;
  TEngineSettingsPtr current_ = std::make_shared<TEngineSettings>();
};

// The settings an export cycle works from, read when it is created.
struct TCycleSettings {
  std::string IPAdress;
  int32_t SocketPort = 0;
  std::string ExportDir;
  std::string FileMask;
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
  bool DeltaDelivery = false;
  int32_t FullResyncHours = 24;
  uint32_t MaxParallelScales = config::kMaxParallelScales.number;

  // A value stored past `reg add`'s checks still serves at least one scale
  // at a time and never more than a scale list holds.
  size_t ParallelScales() const {
    return MaxParallelScales < 1 ? 1 : MaxParallelScales > 255 ? 255 : MaxParallelScales;
  }
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

}  // namespace tv
