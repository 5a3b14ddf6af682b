#include "engine/statuslocal.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <sstream>
#include <vector>

#include "config/exportlockmark.h"
#include "config/storeaccess.h"
#include "config/storedvalues.h"
#include "config/storekeys.h"
#include "files/fileproc.h"
#include "files/parkedname.h"
#include "files/undeletable.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/registry.h"

namespace tv {
namespace {

bool AllDigits(const std::string& s) {
  return !s.empty() && s.size() <= 5 &&
         std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

std::vector<std::string> SplitCommas(const std::string& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == ',')
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

// The scale number of an address with the prefix; -1 for another address.
int NumberOf(const std::string& address, const std::string& prefix) {
  if (address.size() <= prefix.size() || address.compare(0, prefix.size(), prefix) != 0) return -1;
  const std::string tail = address.substr(prefix.size());
  return AllDigits(tail) ? std::stoi(tail) : -1;
}

void ReadDeliveryLog(const std::string& path, const std::string& prefix, TLocalStatus& status) {
  std::string text;
  if (!platform::Env::Default()->ReadFile(path, &text).ok()) return;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string when, address;
    int code = 0;
    if (!ParseLogLine(line, prefix, when, address, code)) continue;
    const int number = NumberOf(address, prefix);
    if (number < 0) continue;
    TScaleHistory& h = status.scales[number];
    h.lastCode = code;
    h.lastAttempt = when;
    if (code == 0) h.lastSuccess = when;
  }
}

void ReadParkedFiles(const std::string& unsentDir, TLocalStatus& status) {
  std::vector<platform::FoundFile> found;
  platform::Env::Default()->FindFiles(unsentDir + "/*", &found);
  for (const platform::FoundFile& f : found) {
    if (f.isDirectory || !IsParkedName(f.name)) continue;
    TScaleHistory& h = status.scales[CFiles::ScaleNumberFromFileName(f.name)];
    if (h.parked == 0 || f.lastWrite < h.oldestParked) h.oldestParked = f.lastWrite;
    ++h.parked;
  }
}

std::optional<int> CountWaitingFiles(const std::string& exportDir, const std::string& mask) {
  std::vector<platform::FoundFile> found;
  const std::string pattern = exportDir + "/" + (mask.empty() ? "*.*" : mask);
  if (!platform::Env::Default()->FindFiles(pattern, &found).ok()) return std::nullopt;
  return static_cast<int>(std::count_if(found.begin(), found.end(), [](const auto& f) { return !f.isDirectory; }));
}

// Only those still as they were: a changed one will be delivered again.
std::vector<std::string> StillUndeletable(const std::string& storePath) {
  platform::Env& env = *platform::Env::Default();
  std::vector<std::string> out;
  for (const TUndeletableFile& f :
       TUndeletableFiles::Read(env, TUndeletableFiles::RecordPathFor(storePath))) {
    platform::FileInfo info;
    if (!env.GetFileInfo(f.path, &info).ok() || info.size != f.size) continue;
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(info.lastWrite.time_since_epoch());
    if (ns.count() == f.lastWriteNs) out.push_back(f.path);
  }
  return out;
}

}  // namespace

bool ParseLogLine(const std::string& line, const std::string& prefix, std::string& when, std::string& address,
                  int& code) {
  const std::vector<std::string> f = SplitCommas(line);
  for (size_t i = 2; i + 1 < f.size(); ++i) {
    if (NumberOf(f[i], prefix) < 0 || !AllDigits(f[i + 1])) continue;
    when.clear();
    for (size_t j = 0; j + 1 < i; ++j) when += (j ? "," : "") + f[j];
    when += " " + f[i - 1];
    address = f[i];
    code = std::stoi(f[i + 1]);
    return true;
  }
  return false;
}

std::optional<TLocalStatus> ReadLocalStatus(const std::string& storePath) {
  if (!platform::Env::Default()->FileExists(storePath)) return std::nullopt;
  TLocalStatus status;
  std::string factsText;
  if (platform::Env::Default()->ReadFile(FactsPath(storePath), &factsText).ok()) {
    status.facts = ParseFacts(factsText);
    status.exportsLockedSince = status.facts->lockedSince;
  } else {
    status.exportsLockedSince = config::ExportLockedSince(*platform::Env::Default(), storePath);
  }
  status.undeletable = StillUndeletable(storePath);
  std::string exportDir, logoDir, mask;
  try {
    platform::Registry reg(storePath);
    platform::RegistryKey key = reg.OpenReadOnly(kProductKey);
    if (!key) return std::nullopt;
    status.addressPrefix = config::ReadString(key, config::kIPAdress);
    exportDir = config::ReadString(key, config::kExportDir);
    logoDir = config::ReadString(key, config::kLogoDir);
    mask = config::ReadString(key, config::kFileMask);
  } catch (const platform::RegistryError&) {
    return std::nullopt;
  }
  if (!status.addressPrefix.empty() && !logoDir.empty())
    ReadDeliveryLog(platform::MapPath(logoDir) + "/sclogo.csv", status.addressPrefix, status);
  if (!exportDir.empty()) {
    ReadParkedFiles(platform::MapPath(exportDir + "\\Unsent"), status);
    status.filesWaiting = CountWaitingFiles(platform::MapPath(exportDir), mask);
  }
  return status;
}

}  // namespace tv
