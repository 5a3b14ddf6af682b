#include "cli/regcli.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <vector>

#include "cli/exitcode.h"
#include "cli/options.h"
#include "config/storedvalues.h"
#include "config/storekeys.h"
#include "config/valuecheck.h"
#include "engine/engine_config.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "platform/stateowner.h"

namespace tv {
namespace {

using platform::RegType;
using platform::RegValue;
using platform::Registry;

constexpr const char* kRootName = "HKEY_CURRENT_USER";

struct Request {
  std::string verb;
  std::string key;
  std::optional<std::string> valueName;
  std::optional<std::string> type;
  std::optional<std::string> data;
  bool force = false;
  bool unchecked = false;  // /force: a value the service cannot use is stored all the same
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Every error names the store it is about: a user with a second state
// directory (TOVALINK_HOME) must see which one was edited.
int Fail(std::ostream& err, const std::string& store, const std::string& message) {
  err << "ERROR: " << message << " (store " << store << ")\n";
  return cli::kExitFailed;
}

constexpr const char* kNotFound = "The system was unable to find the specified registry key or value.";

// Strips HKCU\ or HKEY_CURRENT_USER\; false for any other root key.
bool StripRoot(std::string& key) {
  std::string norm = platform::NormaliseKeyPath(key);
  std::string upper = Upper(norm);
  for (const char* root : {"HKCU", kRootName}) {
    std::string r = root;
    if (upper == r) {
      key.clear();
      return true;
    }
    if (upper.rfind(r + "\\", 0) == 0) {
      key = norm.substr(r.size() + 1);
      return true;
    }
  }
  if (upper.rfind("HKLM", 0) == 0 || upper.rfind("HKEY_", 0) == 0 || upper.rfind("HKCR", 0) == 0 ||
      upper.rfind("HKU\\", 0) == 0 || upper.rfind("HKCC", 0) == 0)
    return false;
  key = norm;
  return true;
}

constexpr const char* kUsage =
    "usage: tovalink reg query|add|delete <key> [/v <name>] [/t REG_SZ|REG_DWORD] [/d <data>] "
    "[/f|/force]";

// "reg --help" and "reg VERB --help"; a key or value may be named -h.
bool AsksForHelp(int argc, char** argv) {
  return (argc >= 1 && cli::IsHelp(argv[0])) || (argc == 2 && cli::IsHelp(argv[1]));
}

// A key typed without quotes reaches us split at its spaces and without
// its backslashes ("HKCUSOFTWAREOrvane" "GroupTovalin+").
std::string UnquotedKeyHint(const std::string& key) {
  if (key.find('\\') != std::string::npos) return "";
  return ". Quote the key, or the shell splits it at spaces and drops its backslashes: "
         "tovalink reg query 'HKCU\\SOFTWARE\\Orvane Group\\Tovalin+'";
}

bool Parse(int argc, char** argv, Request& r, std::string& error) {
  if (argc < 2) {
    error = kUsage;
    return false;
  }
  r.verb = Upper(argv[0]);
  r.key = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string w = argv[i];
    auto next = [&](std::optional<std::string>& slot) {
      if (i + 1 >= argc) {
        error = "missing argument after " + w;
        return false;
      }
      slot = argv[++i];
      return true;
    };
    if (cli::IsSwitch(w, "V")) {
      if (!next(r.valueName)) return false;
    } else if (cli::IsSwitch(w, "T")) {
      if (!next(r.type)) return false;
    } else if (cli::IsSwitch(w, "D")) {
      if (!next(r.data)) return false;
    } else if (cli::IsSwitch(w, "F")) {
      r.force = true;
    } else if (cli::IsSwitch(w, "FORCE")) {
      r.force = r.unchecked = true;
    } else {
      error = "invalid syntax: " + w + UnquotedKeyHint(argv[1]);
      return false;
    }
  }
  if (!StripRoot(r.key)) {
    error = "only HKCU (HKEY_CURRENT_USER) is kept by this service";
    return false;
  }
  return true;
}

std::string TypeName(RegType t) { return t == RegType::DWord ? "REG_DWORD" : "REG_SZ"; }

std::string FormatData(const RegValue& v) {
  if (v.type == RegType::String) return v.text;
  // Hex as reg.exe shows it, decimal as the operator thinks of it.
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%x (%u)", v.number, v.number);
  return buf;
}

void PrintValue(const RegValue& v, std::ostream& out) {
  out << "    " << v.name << "    " << TypeName(v.type) << "    " << FormatData(v) << "\n";
}

std::string FullName(const std::string& key) { return key.empty() ? kRootName : std::string(kRootName) + "\\" + key; }

// " Did you mean 'IPAdress'?" for a name the service does not read but
// knows one close to; "" otherwise.
std::string Suggestion(const std::string& key, const std::string& name) {
  if (config::ValuesOf(key).empty() || config::FindStoredValue(key, name)) return "";
  const std::string nearest = config::NearestName(key, name);
  return nearest.empty() ? "" : " Did you mean '" + nearest + "'?";
}

int Query(Registry& reg, const std::string& store, const Request& r, std::ostream& out,
          std::ostream& err) {
  platform::RegistryKey key = reg.OpenReadOnly(r.key);
  if (!key) return Fail(err, store, kNotFound);
  std::optional<RegValue> one;
  if (r.valueName && !(one = key.ReadValue(*r.valueName)))
    return Fail(err, store, kNotFound + Suggestion(r.key, *r.valueName));
  out << "store " << store << "\n";
  out << "\n" << FullName(platform::NormaliseKeyPath(r.key)) << "\n";
  if (one) {
    PrintValue(*one, out);
    out << "\n";
    return cli::kExitDone;
  }
  for (const RegValue& v : key.ListValues()) PrintValue(v, out);
  out << "\n";
  for (const std::string& sub : key.ListSubKeys()) out << FullName(sub) << "\n";
  return cli::kExitDone;
}

// DWORD data: decimal or 0x-prefixed hexadecimal, 0 to 0xFFFFFFFF.
bool ParseDword(const std::string& text, uint32_t& out) {
  if (text.empty()) return false;
  int base = 10;
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits = digits.substr(2);
  }
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(digits.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || digits[0] == '-' || digits[0] == '+' || v > 0xFFFFFFFFull) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

// What the service makes of a value written under `key`: one it never
// reads, one of another type than it reads, one it reads only at start.
// A table entry past the table's TotalNumber is never read.
void WarnBeyondCount(platform::RegistryKey& key, const config::StoredValue& v,
                     const std::string& name, std::ostream& err) {
  if (v.name.find('#') == std::string_view::npos || v.name == "#") return;
  const std::optional<RegValue> total = key.ReadValue("TotalNumber");
  if (!total || total->type != RegType::DWord) return;
  const uint64_t n = std::strtoull(name.c_str() + v.name.find('#'), nullptr, 10);
  if (n > total->number)
    err << "WARNING: " << name << " lies beyond TotalNumber " << total->number
        << ": the service does not read it "
           "(tovalink scale add keeps the five tables and their counts together)\n";
}

void WarnAbout(platform::RegistryKey& open, const std::string& key, const std::string& name,
               RegType type, std::ostream& err) {
  const std::string where = FullName(platform::NormaliseKeyPath(key));
  if (config::ValuesOf(key).empty()) {
    err << "WARNING: the service reads no value of " << where << "\n";
    return;
  }
  const config::StoredValue* v = config::FindStoredValue(key, name);
  if (!v) {
    err << "WARNING: the service never reads '" << name << "' in " << where << "."
        << Suggestion(key, name) << "\n";
    return;
  }
  if (v->type != type) {
    err << "WARNING: the service reads " << name << " as " << TypeName(v->type) << ", not "
        << TypeName(type) << ": "
        << (v->required ? "it will fail to read it and refuse to start or deliver"
                        : "it will use its default")
        << "\n";
    return;
  }
  WarnBeyondCount(open, *v, name, err);
  switch (config::WhenEffective(*v)) {
    case config::TakesEffect::NextStart:
      if (v->reads & config::kAtReload)
        err << "note: " << name
            << " takes effect at the service's next reload (systemctl reload tovalink, or the "
               "parameter server's next write) or start\n";
      else
        err << "note: " << name << " takes effect at the next start of the service\n";
      break;
    case config::TakesEffect::Never:
      err << "note: the service writes " << name << " itself after every delivery\n";
      break;
    case config::TakesEffect::NextCycle:
    case config::TakesEffect::NextBlock:
      break;
  }
}

// The value `r` asks to add, typed and parsed; false with the reason.
bool ParseAdd(const Request& r, RegValue& value, std::string& error) {
  value.type = RegType::String;
  if (r.type) {
    std::string t = Upper(*r.type);
    if (t == "REG_DWORD")
      value.type = RegType::DWord;
    else if (t != "REG_SZ")
      return error = "Invalid type '" + *r.type + "': only REG_SZ and REG_DWORD are kept.", false;
  }
  if (value.type == RegType::DWord && !ParseDword(r.data.value_or("0"), value.number))
    return error = "Invalid data '" + r.data.value_or("") + "' for REG_DWORD.", false;
  value.text = r.data.value_or("");
  return true;
}

// A value the service reads and could not work with stops the service or
// every delivery later, far from the command that wrote it.
std::string Refusal(const Request& r, const RegValue& value) {
  if (r.unchecked || !r.valueName) return {};
  const config::StoredValue* v = config::FindStoredValue(r.key, *r.valueName);
  if (!v) return {};
  const std::string problem = config::ValueProblem(*v, *r.valueName, value);
  return problem.empty() ? problem
                         : problem + "; nothing written (add /force to store it all the same)";
}

int Add(Registry& reg, const std::string& storePath, const Request& r, std::ostream& out,
        std::ostream& err) {
  if (r.key.empty()) return Fail(err, storePath, "a key under HKCU is needed");
  RegValue value;
  std::string error;
  if (r.valueName && !ParseAdd(r, value, error)) return Fail(err, storePath, error);
  const RegType type = value.type;
  const uint32_t number = value.number;
  // A default written just now is no one's setting yet: no /f needed.
  const bool fresh = WriteDefaultsIfNew(reg);
  if (fresh) DefaultsNotice(storePath, out);
  platform::RegistryKey key = reg.Open(r.key, true);
  if (!key) return Fail(err, storePath, "cannot create the key.");
  if (r.valueName) {
    if (key.ValueExists(*r.valueName) && !r.force && !fresh)
      return Fail(err, storePath, "The value " + *r.valueName + " exists; add /f to overwrite it.");
    if (type == RegType::DWord)
      key.WriteInteger(*r.valueName, static_cast<int32_t>(number));
    else
      key.WriteString(*r.valueName, r.data.value_or(""));
    WarnAbout(key, r.key, *r.valueName, type, err);
  }
  out << "The operation completed successfully.\n";
  return cli::kExitDone;
}

int Delete(Registry& reg, const std::string& storePath, const Request& r, std::ostream& out,
           std::ostream& err) {
  if (r.key.empty()) return Fail(err, storePath, "a key under HKCU is needed");
  if (!r.force) return Fail(err, storePath, "add /f to delete without confirmation.");
  if (r.valueName) {
    platform::RegistryKey key = reg.Open(r.key, false);
    if (!key || !key.DeleteValue(*r.valueName))
      return Fail(err, storePath, kNotFound + Suggestion(r.key, *r.valueName));
    const config::StoredValue* v = config::FindStoredValue(r.key, *r.valueName);
    if (v && v->required && v->type == RegType::DWord)
      err << "WARNING: the service needs " << *r.valueName
          << ": without it, it will refuse to start or deliver\n";
  } else if (!reg.DeleteKey(r.key)) {
    return Fail(err, storePath, kNotFound);
  }
  out << "The operation completed successfully.\n";
  return cli::kExitDone;
}

}  // namespace

bool WriteDefaultsIfNew(Registry& reg) {
  if (reg.KeyExists(kProductKey)) return false;
  CreateDefaults(reg);
  return true;
}

void DefaultsNotice(const std::string& storePath, std::ostream& out) {
  out << "store " << storePath << " created with defaults\n";
  if (!platform::StateHomeChosen() && platform::StateHome() != platform::kPackagedStateHome)
    out << "note: the packaged service reads " << platform::kPackagedStateHome
        << "/registry.db, not this store; a service reads this one only when this user runs it "
           "without "
           "TOVALINK_HOME\n";
}

std::string StoreErrorText(const platform::RegistryError& e) {
  std::string why = platform::StateDirectoryAccessProblem(platform::StateHome());
  if (why.empty()) why = platform::StoreWriteProblem(Registry::DefaultPath());
  return why.empty() ? e.what() : std::string(e.what()) + ": " + why;
}

bool ActAsStoreOwner(std::ostream& err) {
  std::string who;
  const platform::Status s = platform::ActAsOwnerOf(platform::StateHome(), &who);
  if (s.ok()) return true;
  err << "ERROR: " << s.ToString() << " (store " << Registry::DefaultPath() << ")\n";
  return false;
}

void NameStore(std::ostream& err, const std::string& storePath, bool writes) {
  const bool missing = !writes && !platform::FileExists(storePath) &&
                       platform::StateDirectoryAccessProblem(platform::StateHome()).empty();
  err << "store " << storePath << (missing ? " (not made yet: nothing is configured)" : "") << "\n";
}

bool NoStoreYet(const std::string& storePath) {
  return !platform::FileExists(storePath) && platform::StateDirectoryAccessProblem(platform::StateHome()).empty();
}

std::string StorePathForReading() {
  const std::string path = Registry::DefaultPath();
  if (platform::FileExists(path)) return path;
  // A store this user cannot see is not a missing one.
  const std::string denied = platform::StateDirectoryAccessProblem(platform::StateHome());
  if (!denied.empty())
    throw platform::RegistryError("cannot read the store " + path + ": " + denied);
  return ":memory:";  // SQLite's private in-memory database
}

int RunRegCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Request r;
  std::string error;
  const std::string storePath = Registry::DefaultPath();
  if (AsksForHelp(argc, argv)) {
    out << kUsage << "\n";
    return cli::kExitDone;
  }
  if (!Parse(argc, argv, r, error)) return Fail(err, storePath, error);
  // Judged before the store is opened, so that a refusal writes nothing.
  if (RegValue value; Upper(r.verb) == "ADD" && r.valueName && ParseAdd(r, value, error)) {
    if (const std::string refusal = Refusal(r, value); !refusal.empty())
      return Fail(err, storePath, refusal);
  }
  if (!ActAsStoreOwner(err)) return cli::kExitFailed;
  try {
    // Reading never creates a store: without one, nothing is found.
    // A query's listing begins with the store already.
    if (r.verb != "QUERY") NameStore(err, storePath, r.verb == "ADD");
    if (r.verb == "QUERY" && NoStoreYet(storePath))
      return Fail(err, storePath,
                  "no store exists at " + storePath + ": nothing is configured yet (the service makes it on its first start, as reg add does)");
    Registry reg(r.verb == "ADD" ? storePath : StorePathForReading());
    if (r.verb == "QUERY") return Query(reg, storePath, r, out, err);
    if (r.verb == "ADD") return Add(reg, storePath, r, out, err);
    if (r.verb == "DELETE") return Delete(reg, storePath, r, out, err);
    return Fail(err, storePath,
                "unknown operation '" + std::string(argv[0]) + "': use query, add or delete.");
  } catch (const platform::RegistryError& e) {
    return Fail(err, storePath, StoreErrorText(e));
  }
}

int RunRegCommand(int argc, char** argv) { return RunRegCommand(argc, argv, std::cout, std::cerr); }

}  // namespace tv
