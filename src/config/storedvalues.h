// Every value the configuration store holds, in one table: its key and
// name, its type, the default a first start writes, when the service reads
// it, whether a read may fail over it, and whether the parameter server may
// write it.  The first start's defaults, the engine's, the cycles' and the
// status server's reads and the parameter server's writes take their names
// from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/storekeys.h"
#include "platform/registry.h"

namespace tv::config {

// When a value is read into settings (bits).  The status server's reads of
// the scale list and the results are not counted: they change no setting.
enum ReadAt : uint8_t {
  kNotRead = 0,
  kAtStart = 1,   // engine start
  kAtReload = 2,  // engine start and after each parameter server write
  kAtCycle = 4,   // creation of each export cycle
  kAtBlock = 8,   // each parameter block, before it is written
};

// When a changed value is in force everywhere it is read.
enum class TakesEffect : uint8_t {
  NextCycle,  // every export cycle reads it afresh
  NextStart,  // the engine keeps a copy until the next start (reload values
              // also after the parameter server's next write)
  NextBlock,  // the parameter server reads it for each block it receives
  Never,      // not a setting: the service writes it (DeviceResults)
};

struct StoredValue {
  std::string_view key;   // full key path
  std::string_view name;  // a '#' stands for a decimal number: "Scale#"
  platform::RegType type;
  std::string_view text;  // REG_SZ default
  uint32_t number;        // REG_DWORD default; for "Scale#" the one of Scale1
  bool written;           // a first start writes the default
  bool boolean;           // a REG_DWORD read as a flag: 0 false, else true
  uint8_t reads;          // ReadAt bits
  bool required;          // missing (integers) or mistyped fails the read
  bool remote;            // the parameter server writes it
};

// Flags for the entries below.
inline constexpr unsigned kOptional = 1;  // never fails a read; the default stands in
inline constexpr unsigned kRemote = 2;
inline constexpr unsigned kNotWritten = 4;
inline constexpr unsigned kBoolean = 8;

constexpr StoredValue Sz(const char* key, const char* name, const char* text, uint8_t reads,
                         unsigned flags = 0) {
  return {key, name, platform::RegType::String, text, 0, !(flags & kNotWritten), false, reads,
          !(flags & kOptional), (flags & kRemote) != 0};
}

constexpr StoredValue Dword(const char* key, const char* name, uint32_t number, uint8_t reads,
                            unsigned flags = 0) {
  return {key, name, platform::RegType::DWord, {}, number, !(flags & kNotWritten), (flags & kBoolean) != 0,
          reads, !(flags & kOptional), (flags & kRemote) != 0};
}

inline constexpr uint8_t kStartReloadCycle = kAtStart | kAtReload | kAtCycle;

// The product key, in the order a first start writes it.
inline constexpr StoredValue kExportDir =
    Sz(kProductKey, "ExportDir", "C:\\SCALEUPLOAD\\ExportDir", kStartReloadCycle, kRemote);
inline constexpr StoredValue kLogoDir =
    Sz(kProductKey, "LogoDir", "C:\\SCALEUPLOAD", kAtStart | kAtReload, kRemote);
inline constexpr StoredValue kIPAdress = Sz(kProductKey, "IPAdress", "192.168.0.", kAtCycle, kRemote);
inline constexpr StoredValue kVerInterval = Dword(kProductKey, "VerInterval", 10, kAtReload, kRemote);
inline constexpr StoredValue kFileMask = Sz(kProductKey, "FileMask", "*.*", kStartReloadCycle, kRemote);
inline constexpr StoredValue kBarPrefix = Sz(kProductKey, "BarPrefix", "22", kStartReloadCycle, kRemote);
inline constexpr StoredValue kSocketPort = Dword(kProductKey, "SocketPort", 2000, kAtCycle);
inline constexpr StoredValue kBarcodeFormat = Dword(kProductKey, "BarcodeFormat", 5, kAtCycle, kRemote);
inline constexpr StoredValue kLFormat = Dword(kProductKey, "LFormat", 17, kAtCycle, kRemote);
inline constexpr StoredValue kLabelWidth = Dword(kProductKey, "LabelWidth", 58, kAtCycle, kRemote);
inline constexpr StoredValue kINGRFontSize = Dword(kProductKey, "INGRFontSize", 0, kAtCycle, kRemote);
inline constexpr StoredValue kSMessFontSize = Dword(kProductKey, "SMessFontSize", 0, kAtCycle, kRemote);
inline constexpr StoredValue kINGRROWCount = Dword(kProductKey, "INGRROWCount", 7, kAtReload);
inline constexpr StoredValue kSMESSROWCount = Dword(kProductKey, "SMESSROWCount", 8, kAtReload);
inline constexpr StoredValue kINGRCOLCount = Dword(kProductKey, "INGRCOLCount", 100, kAtReload);
inline constexpr StoredValue kSMESSCOLCount = Dword(kProductKey, "SMESSCOLCount", 100, kAtReload);
inline constexpr StoredValue kNameAlgorithm =
    Dword(kProductKey, "m_iNameAlgorithm", 0, kAtCycle, kRemote | kBoolean);
inline constexpr StoredValue kLongBarCode =
    Dword(kProductKey, "LongBarCode", 0, kAtCycle, kRemote | kBoolean);
inline constexpr StoredValue kTextToOEM = Dword(kProductKey, "TextToOEM", 0, kAtCycle, kRemote | kBoolean);
inline constexpr StoredValue kForceDi30 = Dword(kProductKey, "ForceDi30", 0, kAtStart, kBoolean);
inline constexpr StoredValue kImportType = Dword(kProductKey, "ImportType", 0, kAtReload, kRemote);
inline constexpr StoredValue kMaxMessRowCount =
    Dword(kProductKey, "MaxMessRowCount", 8, kAtStart | kAtReload, kOptional);
inline constexpr StoredValue kMonitorIP = Sz(kProductKey, "MonitorIP", "", kAtStart, kOptional);
inline constexpr StoredValue kDecimalSeparator =
    Sz(kProductKey, "DecimalSeparator", "", kAtStart, kOptional | kNotWritten);
inline constexpr StoredValue kListSeparator =
    Sz(kProductKey, "ListSeparator", "", kAtStart, kOptional | kNotWritten);
// Stand-ins for the host's regional settings, which a stock host without
// locales cannot give; the locale's separators are used when they are
// absent.  Set only locally, like every value of the host.
inline constexpr StoredValue kHostDecimalSeparator =
    Sz(kProductKey, "HostDecimalSeparator", "", kAtStart, kOptional | kNotWritten);
inline constexpr StoredValue kHostListSeparator =
    Sz(kProductKey, "HostListSeparator", "", kAtStart, kOptional | kNotWritten);
// The largest goods file read, in MiB; a larger one is rejected unread.
inline constexpr StoredValue kMaxFileSizeMB =
    Dword(kProductKey, "MaxFileSizeMB", 256, kAtStart | kAtReload, kOptional | kNotWritten);
// How many scales one batch of a cycle serves at once.  Set only locally:
// each one is a connection and a thread of the service.
inline constexpr StoredValue kMaxParallelScales =
    Dword(kProductKey, "MaxParallelScales", 10, kAtCycle, kOptional | kNotWritten);
// Delivery of only what a scale lacks by the delivery ledger; a scale still
// gets the whole file when the ledger's last whole file for it is older
// than FullResyncHours or a delivery to it failed since.  Set only locally.
inline constexpr StoredValue kDeltaDelivery =
    Dword(kProductKey, "DeltaDelivery", 0, kAtCycle, kOptional | kNotWritten | kBoolean);
inline constexpr StoredValue kFullResyncHours =
    Dword(kProductKey, "FullResyncHours", 24, kAtCycle, kOptional | kNotWritten);
// Host directories, separated by ";", that a remote ExportDir or LogoDir
// must lie in.  Set only locally: a remote block could otherwise widen its
// own limits.  Unset: the state directory and the parents of the ExportDir
// and LogoDir the service started with.
inline constexpr StoredValue kAllowedRoots =
    Sz(kProductKey, "AllowedRoots", "", kAtBlock, kOptional | kNotWritten);
// Where the parameter server (3057) and the status server (3058) listen:
// unset or empty for every local address, one IPv4 address, or "off".  And
// the peers both admit: addresses and CIDR blocks separated by ";", unset
// for every peer.  Set only locally: port 3057 has no authentication, and a
// remote block could otherwise open the ports it is restricted by.
inline constexpr StoredValue kParamServerAddress =
    Sz(kProductKey, "ParamServerAddress", "", kAtStart, kOptional | kNotWritten);
inline constexpr StoredValue kStatusServerAddress =
    Sz(kProductKey, "StatusServerAddress", "", kAtStart, kOptional | kNotWritten);
inline constexpr StoredValue kRemoteAllow =
    Sz(kProductKey, "RemoteAllow", "", kAtStart, kOptional | kNotWritten);
// Where the metrics and status page listener listens: "address:port" or
// "off".  Local only, like the other listeners; unset is loopback alone.
inline constexpr StoredValue kMetricsAddress =
    Sz(kProductKey, "MetricsAddress", "127.0.0.1:9957", kAtStart, kOptional | kNotWritten);

// The five scale tables: TotalNumber, then one "Scale" + i per entry; a
// first start writes one entry.  The parameter server rewrites them whole.
inline constexpr StoredValue kDevicesCount = Dword(kDevicesKey, "TotalNumber", 1, kAtCycle, kRemote);
inline constexpr StoredValue kDevicesEntry = Dword(kDevicesKey, "Scale#", 91, kAtCycle, kRemote);
inline constexpr StoredValue kDeviceTypesCount = Dword(kDeviceTypesKey, "TotalNumber", 1, kAtCycle, kRemote);
inline constexpr StoredValue kDeviceTypesEntry = Dword(kDeviceTypesKey, "Scale#", 0, kAtCycle, kRemote);
inline constexpr StoredValue kBarcodeTypesCount =
    Dword(kDeviceBarcodeTypesKey, "TotalNumber", 1, kAtCycle, kRemote);
inline constexpr StoredValue kBarcodeTypesEntry =
    Dword(kDeviceBarcodeTypesKey, "Scale#", 5, kAtCycle, kRemote);
inline constexpr StoredValue kUseByInDaysCount =
    Dword(kDeviceUseByInDaysKey, "TotalNumber", 1, kAtCycle, kRemote);
inline constexpr StoredValue kUseByInDaysEntry =
    Dword(kDeviceUseByInDaysKey, "Scale#", 0, kAtCycle, kRemote | kBoolean);
inline constexpr StoredValue kConstBCCount = Dword(kDeviceConstBCKey, "TotalNumber", 1, kAtCycle, kRemote);
inline constexpr StoredValue kConstBCEntry =
    Dword(kDeviceConstBCKey, "Scale#", 0, kAtCycle, kRemote | kBoolean);

// One result per scale number, written by the cycles and read by the status
// server; empty at first start.
inline constexpr StoredValue kDeviceResult =
    Dword(kDeviceResultsKey, "#", 0, kNotRead, kOptional | kNotWritten | kBoolean);

// Every entry, grouped by key in the order of kStoreKeys, each key's values
// in the order a first start writes them.
inline constexpr const StoredValue* kStoredValues[] = {
    &kExportDir,        &kLogoDir,          &kIPAdress,          &kVerInterval,      &kFileMask,
    &kBarPrefix,        &kSocketPort,       &kBarcodeFormat,     &kLFormat,          &kLabelWidth,
    &kINGRFontSize,     &kSMessFontSize,    &kINGRROWCount,      &kSMESSROWCount,    &kINGRCOLCount,
    &kSMESSCOLCount,    &kNameAlgorithm,    &kLongBarCode,       &kTextToOEM,        &kForceDi30,
    &kImportType,       &kMaxMessRowCount,  &kMonitorIP,         &kDecimalSeparator, &kListSeparator,
    &kHostDecimalSeparator, &kHostListSeparator, &kMaxFileSizeMB,
    &kMaxParallelScales,
    &kDeltaDelivery,    &kFullResyncHours,
    &kAllowedRoots,
    &kParamServerAddress,
    &kStatusServerAddress,
    &kRemoteAllow,
    &kMetricsAddress,
    &kDevicesCount,
    &kDevicesEntry,
    &kDeviceTypesCount,
    &kDeviceTypesEntry,
    &kDeviceResult,
    &kBarcodeTypesCount,
    &kBarcodeTypesEntry,
    &kUseByInDaysCount,
    &kUseByInDaysEntry,
    &kConstBCCount,
    &kConstBCEntry,
};

constexpr TakesEffect WhenEffective(const StoredValue& v) {
  if (v.reads == kNotRead) return TakesEffect::Never;
  if (v.reads == kAtBlock) return TakesEffect::NextBlock;
  return v.reads == kAtCycle ? TakesEffect::NextCycle : TakesEffect::NextStart;
}

// The stored name of entry `v` for the number `n`: "Scale" + 3 gives
// "Scale3"; a name without '#' is returned as it is.
std::string NameFor(const StoredValue& v, int64_t n = 1);

// The entries of one key (any spelling of its path), in table order.
std::vector<const StoredValue*> ValuesOf(std::string_view key);

// The entry of `name` in `key`, comparing without regard to case as the
// store does; nullptr for a value the service does not know.
const StoredValue* FindStoredValue(std::string_view key, std::string_view name);

// The known name of `key` closest to a misspelt `name` ("VerIntervall"
// gives "VerInterval"), or "" when none is close.
std::string NearestName(std::string_view key, std::string_view name);

}  // namespace tv::config
