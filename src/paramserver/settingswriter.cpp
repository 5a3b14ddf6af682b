#include "paramserver/settingswriter.h"

#include <string>

#include "config/storedvalues.h"

namespace tv {
namespace {

using platform::Registry;
using platform::RegistryError;
using platform::RegistryKey;
using config::StoredValue;

// A value the protocol may change.  The check runs at compile time: naming
// an entry the table does not mark remote does not build.
class Remote {
 public:
  consteval Remote(const StoredValue& v) : value_(v) {  // NOLINT: implicit on purpose
    if (!v.remote) throw "the parameter server may not write this value";
  }
  const StoredValue& operator*() const { return value_; }

 private:
  const StoredValue& value_;
};

void Write(RegistryKey& key, Remote v, const std::string& text) {
  key.WriteString(config::NameFor(*v), text);
}

void Write(RegistryKey& key, Remote v, int32_t number, int64_t index = 1) {
  key.WriteInteger(config::NameFor(*v, index), number);
}

// In the order the protocol writes them.
bool WriteMainValues(Registry& reg, const TParamBlock& b) {
  RegistryKey key = reg.Open(kProductKey, true);
  if (!key) return false;
  Write(key, config::kExportDir, b.ExportDir);
  Write(key, config::kLogoDir, b.LogoDir);
  Write(key, config::kIPAdress, b.IPAdress);
  Write(key, config::kVerInterval, b.VerInterval);
  Write(key, config::kFileMask, b.FileMask);
  Write(key, config::kBarPrefix, b.BarPrefix);
  Write(key, config::kBarcodeFormat, b.BarcodeFormat);
  Write(key, config::kLFormat, b.LFormat);
  Write(key, config::kLabelWidth, b.LabelWidth);
  Write(key, config::kINGRFontSize, b.INGRFontSize);
  Write(key, config::kSMessFontSize, b.SMessFontSize);
  Write(key, config::kNameAlgorithm, b.m_iNameAlgorithm);
  Write(key, config::kTextToOEM, b.TextToOEM);
  Write(key, config::kLongBarCode, b.LongBarCode);
  Write(key, config::kImportType, b.ImportType);
  return true;
}

struct Table {
  Remote count;
  Remote entry;
  const std::vector<uint8_t>& values;
};

bool RewriteTable(Registry& reg, const Table& t, int32_t total) {
  const std::string path((*t.count).key);
  if (!reg.DeleteKey(path)) return false;
  RegistryKey key = reg.Open(path, true);
  if (!key) return false;
  Write(key, t.count, total);
  for (size_t i = 0; i < t.values.size(); ++i) Write(key, t.entry, t.values[i], static_cast<int64_t>(i + 1));
  return true;
}

bool WriteTables(Registry& reg, const TParamBlock& b) {
  const Table tables[] = {
      {config::kDevicesCount, config::kDevicesEntry, b.ScaleNumbers},
      {config::kDeviceTypesCount, config::kDeviceTypesEntry, b.DeviceTypes},
      {config::kBarcodeTypesCount, config::kBarcodeTypesEntry, b.BarcodeTypes},
      {config::kUseByInDaysCount, config::kUseByInDaysEntry, b.UseByInDays},
      {config::kConstBCCount, config::kConstBCEntry, b.ConstBC},
  };
  for (const Table& t : tables)
    if (!RewriteTable(reg, t, b.TotalNumber)) return false;
  return true;
}

}  // namespace

bool WriteBlockToStore(platform::GuardedRegistry& registry, const TParamBlock& block) {
  try {
    // One transaction: a failure or a crash part-way leaves the previous
    // configuration whole instead of half of the new one.
    auto reg = registry.Lock();
    platform::RegistryTransaction transaction(*reg, true);
    if (!WriteMainValues(*reg, block) || !WriteTables(*reg, block)) return false;
    transaction.Commit();
    return true;
  } catch (const RegistryError&) {
    return false;
  }
}

}  // namespace tv
