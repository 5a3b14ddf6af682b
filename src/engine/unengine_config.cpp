#include "engine/unengine_config.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/fs.h"
#include "platform/log.h"

namespace tv {
namespace {

using platform::Registry;

struct DefaultTable {
  const char* key;
  int32_t entry;  // Scale1's value; -1 for an empty table
};

// In creation order.
constexpr DefaultTable kDefaultTables[] = {
    {kDevicesKey, 91},           {kDeviceTypesKey, 0},       {kDeviceResultsKey, -1},
    {kDeviceBarcodeTypesKey, 5}, {kDeviceUseByInDaysKey, 0}, {kDeviceConstBCKey, 0},
};

void WriteProductDefaults(Registry& reg) {
  reg.WriteString("ExportDir", "C:\\SCALEUPLOAD\\ExportDir");
  reg.WriteString("LogoDir", "C:\\SCALEUPLOAD");
  reg.WriteString("IPAdress", "192.168.0.");
  reg.WriteInteger("VerInterval", 10);
  reg.WriteString("FileMask", "*.*");
  reg.WriteString("BarPrefix", "22");
  reg.WriteInteger("SocketPort", 2000);
  reg.WriteInteger("BarcodeFormat", 5);
  reg.WriteInteger("LFormat", 17);
  reg.WriteInteger("LabelWidth", 58);
  reg.WriteInteger("INGRFontSize", 0);
  reg.WriteInteger("SMessFontSize", 0);
  reg.WriteInteger("INGRROWCount", 7);
  reg.WriteInteger("SMESSROWCount", 8);
  reg.WriteInteger("INGRCOLCount", 100);
  reg.WriteInteger("SMESSCOLCount", 100);
  reg.WriteBool("m_iNameAlgorithm", false);
  reg.WriteBool("LongBarCode", false);
  reg.WriteBool("TextToOEM", false);
  reg.WriteBool("ForceDi30", false);
  reg.WriteInteger("ImportType", 0);
  reg.WriteInteger("MaxMessRowCount", 8);
  reg.WriteString("MonitorIP", "");
}

// Optional values never fail a read: missing or mistyped gives the fallback.
std::string OptionalString(Registry& reg, const char* name) {
  try {
    return reg.ReadString(name);
  } catch (const platform::RegistryError&) {
    return {};
  }
}

int32_t OptionalInteger(Registry& reg, const char* name, int32_t fallback) {
  try {
    return reg.ValueExists(name) ? reg.ReadInteger(name) : fallback;
  } catch (const platform::RegistryError&) {
    return fallback;
  }
}

// First character of an optional string value; 0 when missing or empty.
char ReadSeparator(Registry& reg, const char* name) {
  std::string v = OptionalString(reg, name);
  return v.empty() ? 0 : v[0];
}

// Runs `read` for the table at `key` when it opens; the count becomes its
// TotalNumber.
template <typename Read>
void ReadTable(Registry& reg, const char* key, int32_t& count, Read read) {
  if (!reg.OpenKeyReadOnly(key)) return;
  count = std::max<int32_t>(0, reg.ReadInteger("TotalNumber"));
  read(count);
  reg.CloseKey();
}

std::string ScaleName(int i) { return "Scale" + std::to_string(i); }

}  // namespace

void CreateDefaults(Registry& reg) {
  if (!reg.KeyExists(kProductKey)) {
    if (!reg.OpenKey(kProductKey, true)) throw platform::RegistryError("cannot create the product key");
    WriteProductDefaults(reg);
    reg.CloseKey();
  }
  for (const DefaultTable& t : kDefaultTables) {
    if (reg.KeyExists(t.key)) continue;
    if (!reg.OpenKey(t.key, true)) throw platform::RegistryError(std::string("cannot create ") + t.key);
    if (t.entry >= 0) {
      reg.WriteInteger("TotalNumber", 1);
      reg.WriteInteger("Scale1", t.entry);
    }
    reg.CloseKey();
  }
}

bool StartRead(Registry& reg, TEngineSettings& s) {
  if (!reg.OpenKeyReadOnly(kProductKey)) throw platform::RegistryError("cannot open the product key");
  s.ExportDir = reg.ReadString("ExportDir");
  s.LogoDir = reg.ReadString("LogoDir");
  s.FileMask = reg.ReadString("FileMask");
  s.BarPrefix = reg.ReadString("BarPrefix");
  s.ForceDi30 = reg.ReadBool("ForceDi30");
  s.MonitorIP = OptionalString(reg, "MonitorIP");
  s.DecimalSeparator = ReadSeparator(reg, "DecimalSeparator");
  s.ListSeparator = ReadSeparator(reg, "ListSeparator");
  s.MaxMessRowCount = OptionalInteger(reg, "MaxMessRowCount", 8);
  reg.CloseKey();
  return ReloadSettings(reg, s);
}

bool ReloadSettings(Registry& reg, TEngineSettings& s) {
  try {
    if (!reg.OpenKeyReadOnly(kProductKey)) return false;
    s.VerInterval = reg.ReadInteger("VerInterval");
    s.ExportDir = reg.ReadString("ExportDir");
    s.LogoDir = reg.ReadString("LogoDir");
    s.FileMask = reg.ReadString("FileMask");
    s.BarPrefix = reg.ReadString("BarPrefix");
    s.INGRROWCount = std::min(reg.ReadInteger("INGRROWCount"), 15);
    s.SMESSROWCount = std::min(reg.ReadInteger("SMESSROWCount"), 8);
    s.INGRCOLCount = reg.ReadInteger("INGRCOLCount");
    s.SMESSCOLCount = reg.ReadInteger("SMESSCOLCount");
    s.ImportType = static_cast<uint8_t>(reg.ReadInteger("ImportType") & 0xFF);
    s.MaxMessRowCount = OptionalInteger(reg, "MaxMessRowCount", 8);
    reg.CloseKey();
  } catch (const platform::RegistryError& e) {
    platform::LogError("settings cannot be read: %s", e.what());
    reg.CloseKey();
    return false;
  }
  // Empty names cannot become directories; any other failure shows later,
  // when the file functions meet the missing directory.
  if (s.ExportDir.empty() || s.LogoDir.empty()) {
    platform::LogError("%s is empty: no directory can be made from it", s.ExportDir.empty() ? "ExportDir" : "LogoDir");
    return false;
  }
  for (const std::string& dir : {s.ExportDir, s.ExportDir + "\\Unsent", s.LogoDir}) {
    const std::string path = platform::MapPath(dir);
    if (!platform::ForceDirectories(path))
      platform::LogError("directory %s (from %s) cannot be made: %s", path.c_str(), dir.c_str(), std::strerror(errno));
  }
  return true;
}

TCycleSettings CycleRead(Registry& reg) {
  TCycleSettings c;
  if (!reg.OpenKeyReadOnly(kProductKey)) return c;
  try {
    c.IPAdress = reg.ReadString("IPAdress");
    c.SocketPort = reg.ReadInteger("SocketPort");
    c.ExportDir = reg.ReadString("ExportDir");
    std::string mask = reg.ReadString("FileMask");
    c.BarPrefix = reg.ReadString("BarPrefix");
    c.BarcodeFormat = reg.ReadInteger("BarcodeFormat");
    c.LFormat = reg.ReadInteger("LFormat");
    c.LabelWidth = reg.ReadInteger("LabelWidth");
    c.INGRFontSize = reg.ReadInteger("INGRFontSize");
    c.SMessFontSize = reg.ReadInteger("SMessFontSize");
    c.m_iNameAlgorithm = reg.ReadBool("m_iNameAlgorithm");
    c.LongBarCode = reg.ReadBool("LongBarCode");
    c.TextToOEM = reg.ReadBool("TextToOEM");
    c.SearchMask = c.ExportDir + "\\" + mask;
  } catch (...) {
    reg.CloseKey();
    throw;
  }
  reg.CloseKey();
  return c;
}

TDeviceTables DeviceTableRead(Registry& reg, int32_t barcodeFormat) {
  TDeviceTables t;
  try {
    ReadTable(reg, kDevicesKey, t.ScaleCount, [&](int32_t n) {
      // Entries are read one by one: a bogus TotalNumber fails at its first
      // missing entry instead of reserving memory for it.
      for (int i = 0; i < n; ++i) t.ScaleNumbers.push_back(reg.ReadInteger(ScaleName(i + 1)));
    });
    int32_t count = t.ScaleCount;
    t.DeviceTypes.assign(count, 0);
    ReadTable(reg, kDeviceTypesKey, count, [&](int32_t n) {
      t.DeviceTypes.clear();
      for (int i = 0; i < n; ++i) t.DeviceTypes.push_back(static_cast<uint8_t>(reg.ReadInteger(ScaleName(i + 1))));
    });
    t.BarcodeTypes.assign(count, static_cast<uint8_t>(barcodeFormat & 0xFF));
    ReadTable(reg, kDeviceBarcodeTypesKey, count, [&](int32_t n) {
      t.BarcodeTypes.clear();
      for (int i = 0; i < n; ++i) t.BarcodeTypes.push_back(static_cast<uint8_t>(reg.ReadInteger(ScaleName(i + 1))));
    });
    t.UseByInDays.assign(count, false);
    t.ConstBarcode.assign(count, false);
    ReadTable(reg, kDeviceUseByInDaysKey, count, [&](int32_t n) {
      t.UseByInDays.clear();
      for (int i = 0; i < n; ++i) t.UseByInDays.push_back(reg.ReadBool(ScaleName(i + 1)));
    });
    ReadTable(reg, kDeviceConstBCKey, count, [&](int32_t n) {
      t.ConstBarcode.clear();
      for (int i = 0; i < n; ++i) t.ConstBarcode.push_back(reg.ReadBool(ScaleName(i + 1)));
    });
  } catch (...) {
    reg.CloseKey();
    throw;
  }
  // Tables that disagree with Devices: the cycle never indexes past the
  // scale numbers, and the other tables are padded to that length.
  t.ScaleCount = static_cast<int32_t>(t.ScaleNumbers.size());
  size_t n = t.ScaleNumbers.size();
  t.DeviceTypes.resize(n, 0);
  t.BarcodeTypes.resize(n, static_cast<uint8_t>(barcodeFormat & 0xFF));
  t.UseByInDays.resize(n, false);
  t.ConstBarcode.resize(n, false);
  return t;
}

void WriteResult(Registry& reg, int scaleNumber, bool success) {
  if (!reg.OpenKey(kDeviceResultsKey, true)) return;
  reg.WriteInteger(std::to_string(scaleNumber), success ? 1 : 0);
  reg.CloseKey();
}

}  // namespace tv
