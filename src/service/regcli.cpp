#include "service/regcli.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "config/storekeys.h"
#include "engine/unengine_config.h"
#include "platform/fs.h"
#include "platform/registry.h"

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
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "ERROR: %s\n", message.c_str());
  return 1;
}

bool IsSwitch(const std::string& word, const char* name) {
  return word.size() >= 2 && (word[0] == '/' || word[0] == '-') && Upper(word.substr(1)) == name;
}

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

bool Parse(int argc, char** argv, Request& r, std::string& error) {
  if (argc < 2) {
    error = "usage: tovalink reg query|add|delete <key> [/v <name>] [/t REG_SZ|REG_DWORD] [/d <data>] [/f]";
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
    if (IsSwitch(w, "V")) {
      if (!next(r.valueName)) return false;
    } else if (IsSwitch(w, "T")) {
      if (!next(r.type)) return false;
    } else if (IsSwitch(w, "D")) {
      if (!next(r.data)) return false;
    } else if (IsSwitch(w, "F")) {
      r.force = true;
    } else {
      error = "invalid syntax: " + w;
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
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v.number);
  return buf;
}

void PrintValue(const RegValue& v) {
  std::printf("    %s    %s    %s\n", v.name.c_str(), TypeName(v.type).c_str(), FormatData(v).c_str());
}

std::string FullName(const std::string& key) { return key.empty() ? kRootName : std::string(kRootName) + "\\" + key; }

int Query(Registry& reg, const Request& r) {
  platform::RegistryKey key = reg.OpenReadOnly(r.key);
  if (!key) return Fail("The system was unable to find the specified registry key or value.");
  std::printf("\n%s\n", FullName(platform::NormaliseKeyPath(r.key)).c_str());
  if (r.valueName) {
    auto v = key.ReadValue(*r.valueName);
    if (!v) return Fail("The system was unable to find the specified registry key or value.");
    PrintValue(*v);
    std::printf("\n");
    return 0;
  }
  for (const RegValue& v : key.ListValues()) PrintValue(v);
  std::printf("\n");
  for (const std::string& sub : key.ListSubKeys()) std::printf("%s\n", FullName(sub).c_str());
  return 0;
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

int Add(Registry& reg, const std::string& storePath, const Request& r) {
  if (r.key.empty()) return Fail("a key under HKCU is needed");
  RegType type = RegType::String;
  if (r.type) {
    std::string t = Upper(*r.type);
    if (t == "REG_DWORD")
      type = RegType::DWord;
    else if (t != "REG_SZ")
      return Fail("Invalid type '" + *r.type + "': only REG_SZ and REG_DWORD are kept.");
  }
  uint32_t number = 0;
  if (r.valueName && type == RegType::DWord && !ParseDword(r.data.value_or("0"), number))
    return Fail("Invalid data '" + r.data.value_or("") + "' for REG_DWORD.");
  // A default written just now is no one's setting yet: no /f needed.
  const bool fresh = WriteDefaultsIfNew(reg);
  if (fresh) DefaultsNotice(storePath);
  platform::RegistryKey key = reg.Open(r.key, true);
  if (!key) return Fail("cannot create the key.");
  if (r.valueName) {
    if (key.ValueExists(*r.valueName) && !r.force && !fresh)
      return Fail("The value " + *r.valueName + " exists; add /f to overwrite it.");
    if (type == RegType::DWord)
      key.WriteInteger(*r.valueName, static_cast<int32_t>(number));
    else
      key.WriteString(*r.valueName, r.data.value_or(""));
  }
  std::printf("The operation completed successfully.\n");
  return 0;
}

int Delete(Registry& reg, const Request& r) {
  if (r.key.empty()) return Fail("a key under HKCU is needed");
  if (!r.force) return Fail("add /f to delete without confirmation.");
  if (r.valueName) {
    platform::RegistryKey key = reg.Open(r.key, false);
    if (!key || !key.DeleteValue(*r.valueName))
      return Fail("The system was unable to find the specified registry key or value.");
  } else if (!reg.DeleteKey(r.key)) {
    return Fail("The system was unable to find the specified registry key or value.");
  }
  std::printf("The operation completed successfully.\n");
  return 0;
}

}  // namespace

bool WriteDefaultsIfNew(Registry& reg) {
  if (reg.KeyExists(kProductKey)) return false;
  CreateDefaults(reg);
  return true;
}

void DefaultsNotice(const std::string& storePath) {
  std::printf("store %s created with defaults\n", storePath.c_str());
}

std::string StorePathForReading() {
  const std::string path = Registry::DefaultPath();
  return platform::FileExists(path) ? path : ":memory:";  // SQLite's private in-memory database
}

int RunRegCommand(int argc, char** argv) {
  Request r;
  std::string error;
  if (!Parse(argc, argv, r, error)) return Fail(error);
  try {
    const std::string storePath = Registry::DefaultPath();
    Registry reg(r.verb == "ADD" ? storePath : StorePathForReading());
    if (r.verb == "QUERY") return Query(reg, r);
    if (r.verb == "ADD") return Add(reg, storePath, r);
    if (r.verb == "DELETE") return Delete(reg, r);
    return Fail("unknown operation '" + std::string(argv[0]) + "': use query, add or delete.");
  } catch (const platform::RegistryError& e) {
    return Fail(e.what());
  }
}

}  // namespace tv
