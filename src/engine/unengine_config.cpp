#include "engine/unengine_config.h"

#include <algorithm>
#include <string>
#include <vector>

#include "config/storeaccess.h"
#include "config/storedpath.h"
#include "config/storedvalues.h"
#include "config/valuecheck.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/service.h"

namespace tv {
namespace {

using platform::Registry;
using platform::RegistryError;
using platform::RegistryKey;
namespace cfg = config;

// First character of an optional string value; 0 when missing or empty.
char ReadSeparator(RegistryKey& key, const cfg::StoredValue& v) {
  std::string text = cfg::ReadString(key, v);
  return text.empty() ? 0 : text[0];
}

void ReadStartValues(RegistryKey& key, TEngineSettings& s) {
  s.ExportDir = cfg::ReadString(key, cfg::kExportDir);
  s.LogoDir = cfg::ReadString(key, cfg::kLogoDir);
  s.FileMask = cfg::ReadString(key, cfg::kFileMask);
  s.BarPrefix = cfg::ReadString(key, cfg::kBarPrefix);
  s.ForceDi30 = cfg::ReadBool(key, cfg::kForceDi30);
  s.MonitorIP = cfg::ReadString(key, cfg::kMonitorIP);
  s.DecimalSeparator = ReadSeparator(key, cfg::kDecimalSeparator);
  s.ListSeparator = ReadSeparator(key, cfg::kListSeparator);
  s.HostDecimalSeparator = ReadSeparator(key, cfg::kHostDecimalSeparator);
  s.HostListSeparator = ReadSeparator(key, cfg::kHostListSeparator);
  s.MaxMessRowCount = cfg::ReadInteger(key, cfg::kMaxMessRowCount);
  s.MaxFileSizeMB = static_cast<uint32_t>(cfg::ReadInteger(key, cfg::kMaxFileSizeMB));
}

void ReadReloadValues(RegistryKey& key, TEngineSettings& s) {
  s.VerInterval = cfg::ReadInteger(key, cfg::kVerInterval);
  s.ExportDir = cfg::ReadString(key, cfg::kExportDir);
  s.LogoDir = cfg::ReadString(key, cfg::kLogoDir);
  s.FileMask = cfg::ReadString(key, cfg::kFileMask);
  s.BarPrefix = cfg::ReadString(key, cfg::kBarPrefix);
  s.INGRROWCount = std::min(cfg::ReadInteger(key, cfg::kINGRROWCount), 15);
  s.SMESSROWCount = std::min(cfg::ReadInteger(key, cfg::kSMESSROWCount), 8);
  s.INGRCOLCount = cfg::ReadInteger(key, cfg::kINGRCOLCount);
  s.SMESSCOLCount = cfg::ReadInteger(key, cfg::kSMESSCOLCount);
  s.ImportType = static_cast<uint8_t>(cfg::ReadInteger(key, cfg::kImportType) & 0xFF);
  s.MaxMessRowCount = cfg::ReadInteger(key, cfg::kMaxMessRowCount);
  s.MaxFileSizeMB = static_cast<uint32_t>(cfg::ReadInteger(key, cfg::kMaxFileSizeMB));
}

// Empty names and network shares cannot become directories; any other
// failure shows later, when the file functions meet the missing directory.
bool MakeDirectories(const TEngineSettings& s) {
  if (s.ExportDir.empty() || s.LogoDir.empty()) {
    platform::LogError("%s is empty: no directory can be made from it",
                       std::string(s.ExportDir.empty() ? cfg::kExportDir.name : cfg::kLogoDir.name).c_str());
    return false;
  }
  for (const auto* v : {&cfg::kExportDir, &cfg::kLogoDir}) {
    const std::string& value = v == &cfg::kExportDir ? s.ExportDir : s.LogoDir;
    if (!cfg::IsNetworkSharePath(value)) continue;
    platform::LogError("settings: %s", cfg::NetworkShareRefusal(std::string(v->name), value).c_str());
    return false;
  }
  for (const std::string& dir : {s.ExportDir, s.ExportDir + "\\Unsent", s.LogoDir}) {
    const std::string path = platform::MapPath(dir);
    const platform::Status status = platform::Env::Default()->CreateDirectories(path);
    if (!status.ok())
      platform::LogError("directory %s (from %s) cannot be made: %s", path.c_str(), dir.c_str(),
                         status.ToString().c_str());
  }
  return true;
}

// Reads one scale table when its key opens: the count becomes its
// TotalNumber and `out` gets `read(key, i)` for i from 1 to the count.
template <typename T, typename Read>
void ReadTable(Registry& reg, const cfg::StoredValue& total, int32_t& count, std::vector<T>& out, Read read) {
  RegistryKey key = reg.OpenReadOnly(std::string(total.key));
  if (!key) return;
  count = std::max<int32_t>(0, cfg::ReadInteger(key, total));
  out.clear();
  // Entries are read one by one: a bogus TotalNumber fails at its first
  // missing entry instead of reserving memory for it.
  for (int32_t i = 1; i <= count; ++i) out.push_back(read(key, static_cast<uint32_t>(i)));
}

uint8_t LowByte(int32_t v) { return static_cast<uint8_t>(v & 0xFF); }

}  // namespace

void CreateDefaults(Registry& reg) {
  for (const char* path : kStoreKeys) {
    if (reg.KeyExists(path)) continue;
    RegistryKey key = reg.Open(path, true);
    if (!key) throw RegistryError(std::string("cannot create HKCU\\") + path);
    for (const cfg::StoredValue* v : cfg::ValuesOf(path))
      if (v->written) cfg::WriteDefault(key, *v);
  }
}

bool StartRead(Registry& reg, TEngineSettings& s) {
  {
    RegistryKey key = reg.OpenReadOnly(kProductKey);
    if (!key) throw RegistryError(std::string("cannot open HKCU\\") + kProductKey);
    ReadStartValues(key, s);
  }
  return ReloadSettings(reg, s);
}

bool ReloadSettings(Registry& reg, TEngineSettings& s) {
  try {
    RegistryKey key = reg.OpenReadOnly(kProductKey);
    if (!key) throw RegistryError(std::string("cannot open HKCU\\") + kProductKey);
    ReadReloadValues(key, s);
  } catch (const RegistryError& e) {
    platform::LogError("settings: %s", e.what());
    return false;
  }
  if (!MakeDirectories(s)) return false;
  const std::string refusal =
      ProveDirectoriesWritable(s.ExportDir, s.LogoDir, platform::RunBySystemd());
  if (refusal.empty()) return true;
  platform::LogError("%s", refusal.c_str());
  return false;
}

std::string ProveDirectoriesWritable(const std::string& exportDir, const std::string& logoDir,
                                     bool systemdFix) {
  for (const std::string& dir : {exportDir, exportDir + "\\Unsent", logoDir}) {
    const std::string path = platform::MapPath(dir);
    const platform::Status status = platform::ProveWritable(*platform::Env::Default(), path);
    if (status.ok()) continue;
    const char* harm = dir == logoDir
                           ? "the delivery log could not be written"
                           : "delivered files could not be removed and would be delivered again";
    std::string refusal = "directory " + path + " is not writable for the service (" +
                          status.ToString() + "): " + harm + "; ";
    if (systemdFix)
      return refusal +
             "give the service's user write permission on it, and let the unit write there: run " +
             "`systemctl edit tovalink` and add the lines \"[Service]\" and \"ReadWritePaths=" +
             path + "\"";
    return refusal + "give the user the service runs as write permission on it";
  }
  return {};
}

TCycleSettings CycleRead(Registry& reg) {
  TCycleSettings c;
  RegistryKey key = reg.OpenReadOnly(kProductKey);
  if (!key) return c;
  c.IPAdress = cfg::ReadString(key, cfg::kIPAdress);
  c.SocketPort = cfg::ReadInteger(key, cfg::kSocketPort);
  c.ExportDir = cfg::ReadString(key, cfg::kExportDir);
  std::string mask = cfg::ReadString(key, cfg::kFileMask);
  c.BarPrefix = cfg::ReadString(key, cfg::kBarPrefix);
  c.BarcodeFormat = cfg::ReadInteger(key, cfg::kBarcodeFormat);
  c.LFormat = cfg::ReadInteger(key, cfg::kLFormat);
  c.LabelWidth = cfg::ReadInteger(key, cfg::kLabelWidth);
  c.INGRFontSize = cfg::ReadInteger(key, cfg::kINGRFontSize);
  c.SMessFontSize = cfg::ReadInteger(key, cfg::kSMessFontSize);
  c.m_iNameAlgorithm = cfg::ReadBool(key, cfg::kNameAlgorithm);
  c.LongBarCode = cfg::ReadBool(key, cfg::kLongBarCode);
  c.TextToOEM = cfg::ReadBool(key, cfg::kTextToOEM);
  c.SearchMask = c.ExportDir + "\\" + mask;
  return c;
}

TCycleSettings CheckedCycleRead(Registry& reg) {
  TCycleSettings c = CycleRead(reg);
  if (std::string problem = cfg::AddressPrefixProblem(c.IPAdress); !problem.empty())
    throw RegistryError(problem);
  return c;
}

TDeviceTables DeviceTableRead(Registry& reg, int32_t barcodeFormat) {
  TDeviceTables t;
  // One snapshot for all five tables: the store CLI may rewrite them while
  // a cycle starts, and a cycle must see them all before or all after.
  // An exception on the way ends it unused.
  platform::RegistryTransaction snapshot(reg, false);
  const uint8_t defaultBarcode = LowByte(barcodeFormat);
  ReadTable(reg, cfg::kDevicesCount, t.ScaleCount, t.ScaleNumbers, [](RegistryKey& key, uint32_t i) {
    return cfg::ReadInteger(key, cfg::kDevicesEntry, i);
  });
  int32_t count = t.ScaleCount;
  t.DeviceTypes.assign(count, 0);
  ReadTable(reg, cfg::kDeviceTypesCount, count, t.DeviceTypes, [](RegistryKey& key, uint32_t i) {
    return LowByte(cfg::ReadInteger(key, cfg::kDeviceTypesEntry, i));
  });
  t.BarcodeTypes.assign(count, defaultBarcode);
  ReadTable(reg, cfg::kBarcodeTypesCount, count, t.BarcodeTypes, [](RegistryKey& key, uint32_t i) {
    return LowByte(cfg::ReadInteger(key, cfg::kBarcodeTypesEntry, i));
  });
  t.UseByInDays.assign(count, false);
  t.ConstBarcode.assign(count, false);
  ReadTable(reg, cfg::kUseByInDaysCount, count, t.UseByInDays, [](RegistryKey& key, uint32_t i) {
    return cfg::ReadBool(key, cfg::kUseByInDaysEntry, i);
  });
  ReadTable(reg, cfg::kConstBCCount, count, t.ConstBarcode, [](RegistryKey& key, uint32_t i) {
    return cfg::ReadBool(key, cfg::kConstBCEntry, i);
  });
  snapshot.Commit();
  // Tables that disagree with Devices: the cycle never indexes past the
  // scale numbers, and the other tables are padded to that length.
  t.ScaleCount = static_cast<int32_t>(t.ScaleNumbers.size());
  size_t n = t.ScaleNumbers.size();
  t.DeviceTypes.resize(n, 0);
  t.BarcodeTypes.resize(n, defaultBarcode);
  t.UseByInDays.resize(n, false);
  t.ConstBarcode.resize(n, false);
  return t;
}

void WriteResult(Registry& reg, int scaleNumber, bool success) {
  RegistryKey key = reg.Open(kDeviceResultsKey, true);
  if (!key) return;
  key.WriteInteger(cfg::NameFor(cfg::kDeviceResult, scaleNumber), success ? 1 : 0);
}

void WriteResults(Registry& reg, const std::vector<TScaleResult>& results) {
  if (results.empty()) return;
  platform::RegistryTransaction transaction(reg, true);
  RegistryKey key = reg.Open(kDeviceResultsKey, true);
  if (!key) return;
  for (const TScaleResult& r : results)
    key.WriteInteger(cfg::NameFor(cfg::kDeviceResult, r.scaleNumber), r.success ? 1 : 0);
  transaction.Commit();
}

}  // namespace tv
