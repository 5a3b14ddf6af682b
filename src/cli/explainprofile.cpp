#include "cli/explainprofile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/scalelist.h"
#include "config/storekeys.h"
#include "platform/env.h"
#include "platform/registry.h"

namespace tv {
namespace {

namespace cfg = config;
using platform::RegType;
using platform::RegValue;

std::string Fold(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// The product key's values by folded name, and the scale list.
struct StoreView {
  std::map<std::string, RegValue> values;
  std::vector<ScaleEntry> scales;

  // A value of another type than the service reads counts as missing here;
  // the service would refuse to start over it, which `tovalink check` tells.
  int32_t Integer(const cfg::StoredValue& v) const {
    auto it = values.find(Fold(v.name));
    if (it == values.end() || it->second.type != RegType::DWord)
      return static_cast<int32_t>(v.number);
    return static_cast<int32_t>(it->second.number);
  }
  std::string Text(const cfg::StoredValue& v) const {
    auto it = values.find(Fold(v.name));
    if (it == values.end() || it->second.type != RegType::String) return std::string(v.text);
    return it->second.text;
  }
};

// Reads what the store holds; a store that is missing or cannot be read
// leaves the defaults and says so in `source`.
void ReadStore(const std::string& path, StoreView& view, std::string& source) {
  platform::Env* env = platform::Env::Default();
  platform::FileInfo info;
  if (!env->GetFileInfo(path, &info).ok()) {
    source = "defaults (no store at " + path + ")";
    return;
  }
  if (platform::Status s = env->CheckAccess(path, platform::kMayRead); !s.ok()) {
    source = "defaults (store " + path + " cannot be read: " + std::strerror(s.osError()) + ")";
    return;
  }
  try {
    platform::Registry reg(path);
    platform::RegistryKey key = reg.OpenReadOnly(kProductKey);
    if (key)
      for (RegValue& v : key.ListValues()) view.values[Fold(v.name)] = std::move(v);
    key.Close();
    view.scales = LoadScaleList(reg);
    source = "store " + path;
  } catch (const platform::RegistryError& e) {
    view.values.clear();
    view.scales.clear();
    source = "defaults (store " + path + " cannot be read: " + e.what() + ")";
  }
}

bool ParseDword(const std::string& text, uint32_t& out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

bool ApplySetOptions(const TExplainOptions& options, StoreView& view, std::string& error) {
  for (const auto& [name, data] : options.stored) {
    const cfg::StoredValue* v = cfg::FindStoredValue(kProductKey, name);
    if (!v) {
      const std::string nearest = cfg::NearestName(kProductKey, name);
      error = "--set: the service reads no value '" + name + "'" +
              (nearest.empty() ? std::string() : "; did you mean '" + nearest + "'?");
      return false;
    }
    RegValue value;
    value.name = std::string(v->name);
    value.type = v->type;
    if (v->type == RegType::DWord) {
      if (!ParseDword(data, value.number)) {
        error = "--set: " + value.name + " is a REG_DWORD: '" + data + "' is not a number";
        return false;
      }
    } else {
      value.text = data;
    }
    view.values[Fold(v->name)] = value;
  }
  return true;
}

char FirstChar(const std::string& s) { return s.empty() ? 0 : s[0]; }

void TakeStoredValues(const StoreView& view, TScaleProfile& p) {
  TEngineSettings e;
  e.ImportType = static_cast<uint8_t>(view.Integer(cfg::kImportType) & 0xFF);
  e.INGRROWCount = std::min(view.Integer(cfg::kINGRROWCount), 15);
  e.SMESSROWCount = std::min(view.Integer(cfg::kSMESSROWCount), 8);
  e.INGRCOLCount = view.Integer(cfg::kINGRCOLCount);
  e.SMESSCOLCount = view.Integer(cfg::kSMESSCOLCount);
  e.MaxMessRowCount = view.Integer(cfg::kMaxMessRowCount);
  e.ForceDi30 = view.Integer(cfg::kForceDi30) != 0;
  e.DecimalSeparator = FirstChar(view.Text(cfg::kDecimalSeparator));
  e.ListSeparator = FirstChar(view.Text(cfg::kListSeparator));
  p.TakeEngineSettings(e);
  p.NameAlgorithm = view.Integer(cfg::kNameAlgorithm) != 0;
  p.LongBarCode = view.Integer(cfg::kLongBarCode) != 0;
  p.TextToOEM = view.Integer(cfg::kTextToOEM) != 0;
  p.BarPrefix = view.Text(cfg::kBarPrefix);
  p.LabelWidth = view.Integer(cfg::kLabelWidth);
  p.IngredientFont = view.Integer(cfg::kINGRFontSize);
  p.MessageFont = view.Integer(cfg::kSMessFontSize);
  p.LabelFormat = view.Integer(cfg::kLFormat);
}

bool SameScaleValues(const ScaleEntry& a, const ScaleEntry& b) {
  return a.type == b.type && a.barcodeType == b.barcodeType && a.useByInDays == b.useByInDays &&
         a.constBarcode == b.constBarcode;
}

// The listed scale whose own values are used: the one asked for, else the
// first.  False when the one asked for is not listed.
bool TakeScale(const StoreView& view, const TExplainOptions& options, TExplainProfile& out,
               std::string& error) {
  ScaleEntry s;
  s.barcodeType = static_cast<uint8_t>(view.Integer(cfg::kBarcodeFormat) & 0xFF);
  if (options.scale) {
    auto it = std::find_if(view.scales.begin(), view.scales.end(),
                           [&](const ScaleEntry& e) { return e.number == *options.scale; });
    if (it == view.scales.end()) {
      error = "scale " + std::to_string(*options.scale) + " is not in the scale list";
      return false;
    }
    s = *it;
    out.scale = "scale " + std::to_string(s.number);
  } else if (!view.scales.empty()) {
    s = view.scales.front();
    out.scale = "scale " + std::to_string(s.number) + ", the first in the list";
    std::string others;
    for (const ScaleEntry& e : view.scales)
      if (!SameScaleValues(e, s)) others += (others.empty() ? "" : ", ") + std::to_string(e.number);
    if (!others.empty())
      out.notes.push_back("scales " + others +
                          " have other values of their own; --scale N shows one");
  } else {
    out.scale = "no scale listed";
  }
  TScaleProfile& p = out.profile;
  p.ScaleType = static_cast<TScaleType>(options.scaleType.value_or(s.type));
  p.BarcodeType = options.barcodeType.value_or(s.barcodeType);
  p.UseByInDays = options.useByInDays.value_or(s.useByInDays);
  p.ConstBarcode = options.constBarcode.value_or(s.constBarcode);
  return true;
}

// The service's host separators: the locale's unless the store stands in
// for them; a host described on the command line replaces both.
void TakeHost(const StoreView& view, const TExplainOptions& options, TExplainProfile& out) {
  out.host = platform::Regional::FromProcessLocale();
  if (!options.localeDecimal && !options.localeList) {
    out.host.UseStoredSeparators(FirstChar(view.Text(cfg::kHostListSeparator)),
                                 FirstChar(view.Text(cfg::kHostDecimalSeparator)));
    return;
  }
  if (options.localeDecimal) {
    out.host.decimalSeparator = *options.localeDecimal;
    out.host.listSeparator = *options.localeDecimal == ',' ? ';' : ',';
  }
  if (options.localeList) out.host.listSeparator = *options.localeList;
}

}  // namespace

bool BuildExplainProfile(const std::string& storePath, const TExplainOptions& options,
                         TExplainProfile& out, std::string& error) {
  StoreView view;
  ReadStore(storePath, view, out.source);
  if (!ApplySetOptions(options, view, error)) return false;
  TakeStoredValues(view, out.profile);
  if (options.importType) out.profile.ImportType = *options.importType;
  if (!TakeScale(view, options, out, error)) return false;
  TakeHost(view, options, out);
  return true;
}

}  // namespace tv
