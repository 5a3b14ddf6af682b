// The writing side of CFiles: the delivery log and the Unsent store.
#include <cstdio>

#include "files/fileproc.h"
#include "files/fileproc_util.h"
#include "files/parkedname.h"
#include "platform/fs.h"
#include "platform/guid.h"
#include "platform/log.h"
#include "text/utils.h"

namespace tv {
namespace {

// A field as RFC 4180 writes it: quoted, inner quotes doubled, only when it
// holds a separator, a quote or a line break, so that an ordinary line is
// what it always was and a file name can add neither a field nor a line.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace

bool CFiles::AppendLog(const std::string& address, uint16_t code, const std::string& fileName) {
  TEngineSettingsPtr settings = settings_.Get();
  // An empty LogoDir would put the log at the file system's root.
  if (!settings || settings->LogoDir.empty()) {
    platform::LogError("delivery log line for %s lost: LogoDir is empty", fileName.c_str());
    return false;
  }
  const std::string path = platform::MapPath(settings->LogoDir) + "/sclogo.csv";
  // One reading of the clock, so a line written at midnight cannot pair
  // one day's date with the next day's time.
  const platform::LocalTime now = clock_.Now();
  // The date and time keep the host's format as it stands, commas included,
  // as the log always had them.
  std::string line = platform::FormatLocalTime(now, host_.shortDateFormat) + "," +
                     platform::FormatLocalTime(now, host_.longTimeFormat) + "," + CsvField(address) + "," +
                     std::to_string(code) + "," + CsvField(fileName) + "\r\n";
  platform::Status s = env_.AppendFile(path, line);
  if (!s.ok()) {
    platform::LogError("delivery log line for %s lost: %s", fileName.c_str(), s.ToString().c_str());
    return false;
  }
  return true;
}

uint8_t CFiles::ScaleNumberFromAddress(const std::string& address) {
  uint8_t number = 0;
  return tv::ScaleNumberFromAddress(address, number) ? number : 0;
}

std::string CFiles::ParkedNameSuffix(const std::string& fileName, const std::string& address) {
  size_t firstDot = fileName.find('.');
  size_t lastDot = fileName.rfind('.');
  std::string base = firstDot == std::string::npos ? std::string() : fileName.substr(0, firstDot);
  std::string extension = lastDot == std::string::npos ? std::string() : fileName.substr(lastDot);
  char number[8];
  std::snprintf(number, sizeof number, "%.3u", static_cast<unsigned>(ScaleNumberFromAddress(address)));
  return base + number + extension;
}

bool CFiles::CopyToUnsent(const std::string& path, const std::string& address) {
  if (text::Trim(address).empty()) return true;
  const std::string source = platform::MapPath(path);
  platform::FileInfo info;
  platform::Status s = env_.GetFileInfo(source, &info);
  if (!s.ok() && !s.IsNotFound()) {
    // Not known to be gone, so not known to be parked either: the original
    // stays for the next cycle, which delivers it again.
    if (FirstWarning("not parked: " + source))
      platform::LogError("%s not parked for %s and kept for the next cycle: %s", source.c_str(),
                         address.c_str(), s.ToString().c_str());
    return false;
  }
  if (!s.ok() || info.type == platform::FileType::kDirectory) {
    // Nothing to park; the data for this scale is lost.
    platform::LogWarning("%s not parked for %s: %s", source.c_str(), address.c_str(),
                         s.ok() ? "it is a directory" : s.ToString().c_str());
    return true;  // nothing left that could be kept
  }
  const std::string name = platform::ExtractFileName(path);
  if (IsParkedCopyName(name)) return true;
  const std::string target = fileproc::UnsentFolder(fileproc::DirectoryPart(path)) +
                             platform::NewGuidText() + ParkedNameSuffix(name, address);
  DeleteIfExists(target);
  // Written under a hidden name and linked into place, so a listing never
  // meets a half-written parked file.
  s = platform::CopyFileNoOverwrite(env_, source, platform::MapPath(target));
  if (s.ok()) return true;
  platform::LogError("%s not parked for %s: %s", source.c_str(), address.c_str(), s.ToString().c_str());
  return false;
}

void CFiles::SetUndeletableRecord(const std::string& hostPath) {
  undeletable_ = std::make_unique<TUndeletableFiles>(env_, hostPath);
}

void CFiles::RemoveDelivered(const std::string& path) {
  const std::string mapped = platform::MapPath(path);
  if (mapped.empty()) return;
  platform::Status s = env_.RemoveFile(mapped);
  if (s.ok() || s.IsNotFound()) return;
  if (undeletable_)
    undeletable_->Remember(mapped, s.ToString());
  else
    platform::LogError("%s not deleted: %s", mapped.c_str(), s.ToString().c_str());
}

void CFiles::DeleteIfExists(const std::string& path) {
  const std::string mapped = platform::MapPath(path);
  if (mapped.empty()) return;
  platform::FileInfo info;
  platform::Status s = env_.GetFileInfo(mapped, &info);
  if (s.ok()) {
    if (info.type == platform::FileType::kDirectory) return;
    s = env_.RemoveFile(mapped);
  }
  // Not there (or gone in between) is what was asked for.
  if (!s.ok() && !s.IsNotFound()) platform::LogError("%s not deleted: %s", mapped.c_str(), s.ToString().c_str());
}

}  // namespace tv
