#include "engine/storecheck.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <set>

#include "config/remoteaccess.h"
#include "config/settings.h"
#include "config/storedvalues.h"
#include "config/valuecheck.h"
#include "engine/metricsserver.h"
#include "engine/startreport.h"
#include "engine/engine_config.h"
#include "files/fileproc.h"
#include "files/parkedname.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/stateowner.h"

namespace tv {
namespace {

using platform::RegType;
using platform::Registry;
using platform::RegValue;

using platform::RegistryKey;
namespace cfg = config;

enum class Kind { String, Integer, Boolean };

Kind KindOf(const cfg::StoredValue& v) {
  if (v.type == RegType::String) return Kind::String;
  return v.boolean ? Kind::Boolean : Kind::Integer;
}

// Strings the service cannot work with when empty.
constexpr const cfg::StoredValue* kMustHoldText[] = {&cfg::kExportDir, &cfg::kLogoDir, &cfg::kIPAdress,
                                                     &cfg::kFileMask};

bool MustHoldText(const cfg::StoredValue& v) {
  return std::find(std::begin(kMustHoldText), std::end(kMustHoldText), &v) != std::end(kMustHoldText);
}

// The five scale tables; entry i of each describes the same scale.
constexpr const char* kScaleTables[] = {kDevicesKey, kDeviceTypesKey, kDeviceBarcodeTypesKey, kDeviceUseByInDaysKey,
                                        kDeviceConstBCKey};

std::string ShortKey(const char* key) {
  std::string k = key;
  return k.substr(k.rfind('\\') + 1);
}

class Checker {
 public:
  Checker(Registry& reg, TCheckReport& report) : reg_(reg), report_(report) {}

  // The service's own proof at start, with the rights of the state
  // directory's owner, the user the service runs as.
  void ProveWritable() {
    const std::string exportDir = Str(cfg::kExportDir), logoDir = Str(cfg::kLogoDir);
    if (exportDir.empty() || logoDir.empty()) return;
    for (const std::string& dir : {exportDir, exportDir + "\\Unsent", logoDir})
      if (!platform::DirectoryExists(platform::MapPath(dir))) return;  // the service makes it first
    const bool systemdFix = platform::RunBySystemd() || platform::SystemctlAvailable();
    // Run as root, the commands act as the state directory's owner before
    // they get here, so this proves what the service's own user may do.
    const platform::Status proof = ProveDirectoriesWritable(exportDir, logoDir, systemdFix);
    if (!proof.ok()) Error(proof.ToString());
  }

  void Run(const platform::Regional& host) {
    {
      RegistryKey product = reg_.OpenReadOnly(kProductKey);
      if (!product) {
        Error(std::string("the key ") + kProductKey + " is missing (the service creates it only in an empty store)");
        return;
      }
      // Every product-key value the service reads, from the table of stored
      // values.
      for (const cfg::StoredValue* v : cfg::ValuesOf(kProductKey))
        if (v->reads != cfg::kNotRead) CheckValue(product, *v);
    }
    CheckAddressPrefix();
    CheckTables();
    CheckDirectory("ExportDir", Str(cfg::kExportDir));
    if (!Str(cfg::kExportDir).empty()) CheckDirectory("ExportDir\\Unsent", Str(cfg::kExportDir) + "\\Unsent");
    CheckDirectory("LogoDir", Str(cfg::kLogoDir));
    ProveWritable();
    CheckSeparators(host);
    CheckParkedFiles();
    CheckRemoteAccess();
  }

 private:
  void Error(const std::string& t) { report_.findings.push_back({TCheckLevel::Error, t}); }
  void Warning(const std::string& t) { report_.findings.push_back({TCheckLevel::Warning, t}); }
  void Note(const std::string& t) { report_.findings.push_back({TCheckLevel::Note, t}); }
  std::string Str(const cfg::StoredValue& v) const {
    auto it = strings_.find(std::string(v.name));
    return it == strings_.end() ? std::string() : it->second;
  }

  static const char* KindName(Kind k) {
    return k == Kind::String ? "a string (REG_SZ)" : k == Kind::Integer ? "an integer (REG_DWORD)" : "0 or 1 (REG_DWORD)";
  }

  void CheckValue(RegistryKey& key, const cfg::StoredValue& v) {
    const std::string name(v.name);
    const Kind kind = KindOf(v);
    const bool nonEmpty = MustHoldText(v);
    std::optional<RegValue> value = key.ReadValue(name);
    if (!value) {
      // A missing string reads as empty; a missing number stops the read
      // unless the value is optional, when its default stands in.
      if (v.required && (kind != Kind::String || nonEmpty))
        Error(name + " is missing; it must be " + KindName(kind));
      else if (!v.required && kind != Kind::String)
        numbers_[name] = static_cast<int32_t>(v.number);
      else if (!v.required)
        strings_[name] = std::string(v.text);
      return;
    }
    if (value->type != v.type) {
      std::string msg = name + " is of the wrong type; it must be " + KindName(kind);
      if (v.required) Error(msg); else Warning(msg + " (ignored)");
      return;
    }
    if (kind == Kind::String) {
      strings_[name] = value->text;
      if (nonEmpty && value->text.empty()) Error(name + " is empty");
    } else {
      numbers_[name] = static_cast<int32_t>(value->number);
      if (const std::string problem = cfg::ValueProblem(v, name, *value); !problem.empty())
        Error(problem);
    }
  }

  void CheckAddressPrefix() {
    const std::string p = Str(cfg::kIPAdress);
    if (p.empty()) return;
    addressProblem_ = cfg::AddressPrefixProblem(p);
    if (!addressProblem_.empty()) Error(addressProblem_);
  }

  // Reads TotalNumber and the entries of one table; false when it cannot.
  bool ReadTable(const char* key, std::vector<int32_t>& entries) {
    const std::string name = ShortKey(key);
    RegistryKey table = reg_.OpenReadOnly(key);
    if (!table) {
      if (name == "Devices") Error("the table Devices is missing: no scale receives anything");
      return false;
    }
    std::optional<RegValue> total = table.ReadValue("TotalNumber");
    bool ok = total && total->type == RegType::DWord;
    if (!ok) Error(name + "\\TotalNumber is missing or not an integer");
    for (int32_t i = 1; ok && i <= static_cast<int32_t>(total->number) && i <= 1000; ++i) {
      std::optional<RegValue> e = table.ReadValue("Scale" + std::to_string(i));
      if (!e || e->type != RegType::DWord) {
        Error(name + "\\Scale" + std::to_string(i) + " is missing or not an integer (TotalNumber is " +
              std::to_string(total->number) + ")");
        ok = false;
      } else {
        entries.push_back(static_cast<int32_t>(e->number));
      }
    }
    return ok;
  }

  void CheckTables() {
    std::vector<int32_t> numbers;
    if (!ReadTable(kDevicesKey, numbers)) return;
    scaleNumbers_.insert(numbers.begin(), numbers.end());
    tablesRead_ = true;
    if (numbers.empty()) Warning("the scale list is empty (Devices\\TotalNumber is 0): nothing is delivered");
    std::set<int32_t> seen;
    for (size_t i = 0; i < numbers.size(); ++i) {
      const std::string entry = "Devices\\Scale" + std::to_string(i + 1);
      if (numbers[i] < 1 || numbers[i] > 255)
        Error(entry + " is " + std::to_string(numbers[i]) + "; a scale number is 1 to 255");
      else if (!seen.insert(numbers[i]).second)
        Error(entry + " repeats scale number " + std::to_string(numbers[i]));
    }
    if (!numbers.empty()) {
      std::string list;
      for (int32_t n : numbers) list += (list.empty() ? "" : ", ") + std::to_string(n);
      // No "ok" for an address already reported wrong.
      const std::string at = addressProblem_.empty() ? " at " + Str(cfg::kIPAdress) + "n" : "";
      Note(std::to_string(numbers.size()) + (numbers.size() == 1 ? " scale: " : " scales: ") +
           list + at);
    }
    for (const char* key : kScaleTables) {
      if (ShortKey(key) == "Devices") continue;
      std::vector<int32_t> entries;
      if (!ReadTable(key, entries)) continue;
      if (entries.size() != numbers.size())
        Error(ShortKey(key) + "\\TotalNumber is " + std::to_string(entries.size()) + " but Devices\\TotalNumber is " +
              std::to_string(numbers.size()));
    }
  }

  static bool MayWriteIn(const std::string& dir) {
    return platform::Env::Default()
        ->CheckAccess(dir, platform::kMayWrite | platform::kMayEnter)
        .ok();
  }

  // The nearest ancestor of `path` that exists.
  static std::string ExistingAncestor(std::string path) {
    while (!path.empty() && !platform::DirectoryExists(path) && !platform::FileExists(path)) {
      size_t slash = path.find_last_of('/');
      if (slash == std::string::npos) return {};
      path = slash == 0 ? "/" : path.substr(0, slash);
    }
    return path;
  }

  void CheckDirectory(const std::string& name, const std::string& stored) {
    if (stored.empty()) return;
    if (stored.rfind("\\\\", 0) == 0 || stored.rfind("//", 0) == 0) {
      Error(name + " \"" + stored + "\" is a network (UNC) path; mount the share and give its local path");
      return;
    }
    const std::string path = platform::MapPath(stored);
    if (path.empty() || path[0] != '/') {
      Error(name + " \"" + stored + "\" is a relative path; give a drive letter or an absolute path");
      return;
    }
    if (platform::DirectoryExists(path)) {
      if (!MayWriteIn(path))
        Error(name + " " + path + " cannot be written");
      else
        Note(name + " " + path);
      return;
    }
    const std::string base = ExistingAncestor(path);
    if (base.empty() || !platform::DirectoryExists(base))
      Error(name + " " + path + " cannot be made: " + (base.empty() ? path : base) + " is not a directory");
    else if (!MayWriteIn(base))
      Error(name + " " + path + " cannot be made: " + base + " cannot be written");
    else
      Note(name + " " + path + " does not exist yet; the service makes it");
  }

  char First(const cfg::StoredValue& v) const { return Str(v).empty() ? 0 : Str(v)[0]; }

  // The advice names the stored stand-in for the host's settings: a stock
  // host has no locale to switch to.
  void CheckSeparators(platform::Regional host) {
    host.UseStoredSeparators(First(cfg::kHostListSeparator), First(cfg::kHostDecimalSeparator));
    const std::string locale = EffectiveLocale("LC_NUMERIC");
    const char list = First(cfg::kListSeparator);
    const char decimal = First(cfg::kDecimalSeparator);
    const std::string line = SeparatorSource("list separator", list, host.listSeparator,
                                             "ListSeparator", host.listFrom) +
                             ", " +
                             SeparatorSource("decimal separator", decimal, host.decimalSeparator,
                                             "DecimalSeparator", host.decimalFrom);
    const std::string hostSource =
        host.listFrom ? std::string("stored ") + host.listFrom : "locale " + locale;
    if (list != 0 && list != host.listSeparator)
      Warning(std::string("ListSeparator '") + list + "' is not the list separator of " +
              hostSource + " ('" + host.listSeparator + "'): files are split at the " +
              (host.listFrom ? "host's" : "locale's") +
              ", fields at the stored one; make the host's agree: " +
              StoreCommand("HostListSeparator", list));
    if ((list == 0 || decimal == 0) && IsPlainLocale(locale) && !host.listFrom && !host.decimalFrom)
      Warning(
          line +
          ": the C/POSIX locale rarely matches the back office; give the back office's separators, "
          "for a decimal comma: " +
          StoreCommand("HostDecimalSeparator", ','));
    else
      Note(line);
  }

  static std::string StoreCommand(const char* name, char value) {
    const std::string quoted = value == ';' ? "\";\"" : std::string(1, value);
    return std::string("tovalink reg add \"HKCU\\") + kProductKey + "\" /v " + name +
           " /t REG_SZ /d " + quoted + " /f";
  }

  void CheckParkedFiles() {
    const std::string exportDir = Str(cfg::kExportDir);
    if (exportDir.empty() || !tablesRead_) return;
    std::vector<platform::FoundFile> found;
    platform::FindFiles(platform::MapPath(exportDir + "\\Unsent") + "/*", found);
    for (const platform::FoundFile& f : found) {
      if (f.isDirectory || !IsParkedName(f.name)) continue;
      const int number = CFiles::ScaleNumberFromFileName(f.name);
      if (!scaleNumbers_.count(number))
        Warning("Unsent/" + f.name + " is parked for scale " + std::to_string(number) +
                ", which is not in the scale list: it is never delivered and starts a cycle at every check");
    }
  }

  // What each port accepts, as the service will read it at its next start.
  void CheckRemoteAccess() {
    const platform::Result<cfg::TRemoteAllow> allow = cfg::TRemoteAllow::Parse(Str(cfg::kRemoteAllow));
    std::string peers = "every peer";
    if (!allow.ok()) {
      Error("RemoteAllow " + allow.status().ToString() +
            ": the service admits no peer on either port");
      peers = "no peer";
    } else if (!allow->Everyone()) {
      peers = "only " + allow->Describe() + " (RemoteAllow)";
    }
    DescribePort(cfg::kParamServerAddress, 3057, "parameter server, no authentication", peers);
    DescribePort(cfg::kStatusServerAddress, 3058, "status server", peers);
    DescribeMetrics();
  }

  // Admits every peer that reaches it: RemoteAllow does not apply.
  void DescribeMetrics() {
    const platform::Result<TMetricsAddress> m = ParseMetricsAddress(Str(cfg::kMetricsAddress));
    if (!m.ok())
      Error("MetricsAddress " + m.status().ToString() +
            ": metrics and status page not listened on");
    else if (m.value().off)
      Note("metrics and status page: off (MetricsAddress)");
    else
      Note("metrics and status page: listen on " + m.value().address + ":" +
           std::to_string(m.value().port) +
           " (MetricsAddress), admit every peer that reaches them");
  }

  void DescribePort(const cfg::StoredValue& v, int port, const char* what,
                    const std::string& peers) {
    const std::string name(v.name);
    const std::string head = "port " + std::to_string(port) + " (" + what + "): ";
    const platform::Result<cfg::TListenAddress> address = cfg::ParseListenAddress(Str(v));
    if (!address.ok())
      Error(name + " " + address.status().ToString() + ": " + head + "not listened on");
    else if (address->off)
      Note(head + "off (" + name + ")");
    else
      Note(head + "listens on " +
           (address->Everywhere() ? "every address" : address->address + " (" + name + ")") +
           ", admits " + peers);
  }

  Registry& reg_;
  TCheckReport& report_;
  std::map<std::string, std::string> strings_;
  std::map<std::string, int32_t> numbers_;
  std::set<int32_t> scaleNumbers_;
  bool tablesRead_ = false;
  std::string addressProblem_;
};

// Run by the service's user (root's check acts as the state directory's
// owner), this is what the service meets at its start.
// A misspelt name is kept by the store and never read: the service runs
// on the default while the operator believes the value set.
void CheckUnknownNames(Registry& reg, TCheckReport& report) {
  RegistryKey product = reg.OpenReadOnly(kProductKey);
  if (!product) return;
  for (const RegValue& v : product.ListValues()) {
    if (cfg::FindStoredValue(kProductKey, v.name)) continue;
    const std::string nearest = cfg::NearestName(kProductKey, v.name);
    report.findings.push_back({TCheckLevel::Warning, v.name + " in " + ShortKey(kProductKey) +
                                                         " is never read by the service" +
                                                         (nearest.empty() ? "" : "; did you mean " + nearest + "?")});
  }
}

void CheckWritable(Registry& reg, TCheckReport& report) {
  try {
    reg.ProveWritable();
  } catch (const platform::RegistryError& e) {
    const std::string why = platform::StoreWriteProblem(report.storePath);
    report.findings.push_back({TCheckLevel::Error, "the store " + report.storePath +
                                                       " cannot be written (" + e.what() +
                                                       "), so the service does not start" +
                                                       (why.empty() ? std::string() : ": " + why)});
  }
}

}  // namespace

void CheckOpenStore(Registry& reg, const platform::Regional& host, TCheckReport& report) {
  Checker(reg, report).Run(host);
}

bool TCheckReport::Passed() const { return Count(TCheckLevel::Error) == 0; }

int TCheckReport::Count(TCheckLevel level) const {
  return static_cast<int>(std::count_if(findings.begin(), findings.end(),
                                        [&](const TCheckFinding& f) { return f.level == level; }));
}

TCheckReport CheckStore(const std::string& storePath, const platform::Regional& host) {
  TCheckReport report;
  report.storePath = storePath;
  const std::string denied =
      platform::StateDirectoryAccessProblem(platform::ExtractFilePath(storePath));
  if (!denied.empty()) {
    report.findings.push_back(
        {TCheckLevel::Error, "the store " + storePath + " cannot be checked: " + denied});
    return report;
  }
  if (!platform::FileExists(storePath)) {
    report.findings.push_back({TCheckLevel::Warning, "the store " + storePath +
                                                         " does not exist; the first start writes the defaults "
                                                         "(set IPAdress before files arrive)"});
    return report;
  }
  // Opening would write the store's tables into it; the file stays as found.
  platform::FileInfo info;
  if (platform::Env::Default()->GetFileInfo(storePath, &info).ok() && info.size == 0) {
    report.findings.push_back({TCheckLevel::Error, "the store " + storePath +
                                                       " is empty: the service does not start on it; restore it, "
                                                       "or remove it to start on the defaults"});
    return report;
  }
  try {
    Registry reg(storePath);
    CheckWritable(reg, report);
    Checker(reg, report).Run(host);
    CheckUnknownNames(reg, report);
  } catch (const platform::RegistryError& e) {
    report.findings.push_back({TCheckLevel::Error, std::string("the store cannot be read: ") + e.what()});
  }
  return report;
}

}  // namespace tv
