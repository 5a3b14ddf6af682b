#include "paramserver/settingswriter.h"

#include <string>

#include "engine/settings.h"

namespace tv {
namespace {

using platform::Registry;
using platform::RegistryError;

// Closes the current key however the sequence ends.
class KeyCloser {
 public:
  explicit KeyCloser(Registry& reg) : reg_(reg) {}
  ~KeyCloser() { reg_.CloseKey(); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  Registry& reg_;
};

bool WriteMainValues(Registry& reg, const TParamBlock& b) {
  if (!reg.OpenKey(kProductKey, true)) return false;
  KeyCloser closer(reg);
  reg.WriteString("ExportDir", b.ExportDir);
  reg.WriteString("LogoDir", b.LogoDir);
  reg.WriteString("IPAdress", b.IPAdress);
  reg.WriteInteger("VerInterval", b.VerInterval);
  reg.WriteString("FileMask", b.FileMask);
  reg.WriteString("BarPrefix", b.BarPrefix);
  reg.WriteInteger("BarcodeFormat", b.BarcodeFormat);
  reg.WriteInteger("LFormat", b.LFormat);
  reg.WriteInteger("LabelWidth", b.LabelWidth);
  reg.WriteInteger("INGRFontSize", b.INGRFontSize);
  reg.WriteInteger("SMessFontSize", b.SMessFontSize);
  reg.WriteInteger("m_iNameAlgorithm", b.m_iNameAlgorithm);
  reg.WriteInteger("TextToOEM", b.TextToOEM);
  reg.WriteInteger("LongBarCode", b.LongBarCode);
  reg.WriteInteger("ImportType", b.ImportType);
  return true;
}

bool RewriteTable(Registry& reg, const char* key, int32_t total, const std::vector<uint8_t>& table) {
  if (!reg.DeleteKey(key)) return false;
  if (!reg.OpenKey(key, true)) return false;
  KeyCloser closer(reg);
  reg.WriteInteger("TotalNumber", total);
  for (size_t i = 0; i < table.size(); ++i)
    reg.WriteInteger("Scale" + std::to_string(i + 1), table[i]);
  return true;
}

bool WriteTables(platform::GuardedRegistry& registry, const TParamBlock& b) {
  const struct {
    const char* key;
    const std::vector<uint8_t>& table;
  } tables[] = {
      {kDevicesKey, b.ScaleNumbers},       {kDeviceTypesKey, b.DeviceTypes},
      {kDeviceBarcodeTypesKey, b.BarcodeTypes}, {kDeviceUseByInDaysKey, b.UseByInDays},
      {kDeviceConstBCKey, b.ConstBC},
  };
  for (const auto& t : tables) {
    auto reg = registry.Lock();
    if (!RewriteTable(*reg, t.key, b.TotalNumber, t.table)) return false;
  }
  return true;
}

}  // namespace

bool WriteBlockToStore(platform::GuardedRegistry& registry, const TParamBlock& block) {
  try {
    {
      auto reg = registry.Lock();
      if (!WriteMainValues(*reg, block)) return false;
    }
    return WriteTables(registry, block);
  } catch (const RegistryError&) {
    return false;
  }
}

}  // namespace tv
