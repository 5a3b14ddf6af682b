// Which entries of the export directory a cycle takes, and where the files
// go that it must keep but cannot deliver: a name that does not map onto
// the host, anything that is not a regular file and a file still being
// written are left alone; an unreadable goods file goes to "Rejected".
#include <cerrno>

#include "files/fileproc.h"
#include "files/fileproc_util.h"
#include "platform/fs.h"
#include "platform/log.h"

namespace tv {
namespace fileproc {

// A "\" would be read as a directory separator by MapPath, and a control
// character (a newline) has no place in a log line or a stored path.
bool NameRoundTrips(const std::string& name) {
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\' || u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

std::string RejectedFolder(const std::string& directoryPart) {
  const bool posix = !directoryPart.empty() && directoryPart.back() == '/';
  return directoryPart + "Rejected" + (posix ? '/' : '\\');
}

std::string RejectReasonPath(const std::string& rejectedHostPath) {
  const size_t slash = rejectedHostPath.rfind('/');
  const size_t at = slash == std::string::npos ? 0 : slash + 1;
  return rejectedHostPath.substr(0, at) + "." + rejectedHostPath.substr(at) + ".reason";
}

}  // namespace fileproc

namespace {

constexpr size_t kMaxWarnedNames = 4096;

// "prices.txt" numbered 2 is "prices.2.txt"; a name without a dot gets ".2".
std::string NumberedName(const std::string& name, int n) {
  const size_t dot = name.rfind('.');
  const std::string number = "." + std::to_string(n);
  if (dot == std::string::npos || dot == 0) return name + number;
  return name.substr(0, dot) + number + name.substr(dot);
}

}  // namespace

void CFiles::WarnOnce(const std::string& path, const std::string& why) {
  if (FirstWarning(path)) platform::LogWarning("%s skipped: %s", path.c_str(), why.c_str());
}

bool CFiles::FirstWarning(const std::string& key) {
  std::lock_guard<std::mutex> lock(warnedMutex_);
  if (warnedNames_.size() >= kMaxWarnedNames) warnedNames_.clear();
  return warnedNames_.insert(key).second;
}

bool CFiles::Ordinary(const platform::FoundFile& f, const std::string& listedDir) {
  const char* why = !fileproc::NameRoundTrips(f.name) ? "its name holds a backslash or a control character"
                    : !f.isRegular                    ? "not a regular file (a link, a FIFO or a device)"
                                                      : nullptr;
  if (why == nullptr) return true;
  // The name as it stands: mapping would turn its "\" into a separator.
  std::string host = platform::MapPath(listedDir);
  if (!host.empty() && host.back() != '/') host += '/';
  WarnOnce(host + f.name, why);
  return false;
}

bool CFiles::Admit(const platform::FoundFile& f, const std::string& listedDir, bool exportDir) {
  return Ordinary(f, listedDir) && !Undeletable(listedDir, f.name) &&
         (!exportDir || Quiet(listedDir + f.name));
}

bool CFiles::Undeletable(const std::string& listedDir, const std::string& name) {
  return undeletable_ && undeletable_->Remembers(platform::MapPath(listedDir + name));
}

// Time stamps may come from another machine's clock, so only what this
// process saw change, and when, counts.
bool CFiles::Quiet(const std::string& path) {
  platform::FileInfo info;
  const std::string host = platform::MapPath(path);
  if (!env_.GetFileInfo(host, &info).ok()) return false;  // gone again
  const auto now = std::chrono::steady_clock::now();
  auto [it, added] = sightings_.try_emplace(path, Sighting{info.size, info.lastWrite, now});
  Sighting& seen = it->second;
  seen.listing = listing_;
  if (!added && (seen.size != info.size || seen.lastWrite != info.lastWrite)) {
    seen = Sighting{info.size, info.lastWrite, now, listing_};
  }
  return KnownComplete(host, info) || now - seen.since >= quietPeriod_;
}

void CFiles::MarkComplete(const std::string& hostPath) {
  platform::FileInfo info;
  if (!env_.GetFileInfo(hostPath, &info).ok()) return;  // gone already
  std::lock_guard<std::mutex> lock(completeMutex_);
  // Delivered files leave no word here; a bound keeps the names of a
  // directory that never empties from piling up.
  if (complete_.size() >= kMaxWarnedNames) complete_.clear();
  complete_[hostPath] = {info.size, info.lastWrite};
}

bool CFiles::KnownComplete(const std::string& hostPath, const platform::FileInfo& info) {
  std::lock_guard<std::mutex> lock(completeMutex_);
  auto it = complete_.find(hostPath);
  if (it == complete_.end()) return false;
  if (it->second == std::pair{info.size, info.lastWrite}) return true;
  complete_.erase(it);
  return false;
}

void CFiles::ForgetVanished() {
  std::erase_if(sightings_, [&](const auto& entry) { return entry.second.listing != listing_; });
}

bool CFiles::MoveToRejected(const std::string& path, const std::string& reason) {
  const std::string source = platform::MapPath(path);
  const std::string name = platform::ExtractFileName(path);
  std::string directory = fileproc::DirectoryPart(path);
  // A parked copy goes to the export directory's Rejected, where the back
  // office looks, not to one inside Unsent.
  for (const char* unsent : {"Unsent\\", "Unsent/"})
    if (directory.size() > 7 && directory.compare(directory.size() - 7, 7, unsent) == 0)
      directory.resize(directory.size() - 7);
  const std::string folder = platform::MapPath(fileproc::RejectedFolder(directory));
  platform::Status s = env_.CreateDirectories(folder);
  std::string target;
  // A move never replaces an existing name; the next number is tried.
  for (int n = 1; s.ok() && target.empty(); ++n) {
    if (n > 1000) {
      s = platform::Status::IOError("rename", folder + name, EEXIST);
      break;
    }
    const std::string candidate = folder + (n == 1 ? name : NumberedName(name, n));
    s = env_.MoveFileNoReplace(source, candidate);
    if (s.ok()) target = candidate;
    if (s.IsAlreadyExists()) s = platform::Status::OK();
  }
  if (s.ok()) {
    platform::LogError("%s rejected into %s: %s", source.c_str(), target.c_str(), reason.c_str());
    // The log line above holds the reason too: a missing note loses nothing.
    env_.WriteFile(fileproc::RejectReasonPath(target), reason + "\n");
    if (rejectedHook_) rejectedHook_(name, reason);
    return true;
  }
  platform::LogError("%s cannot be delivered (%s) and is kept where it is: %s", source.c_str(), reason.c_str(),
                     s.ToString().c_str());
  return false;
}

void CFiles::RemoveStaleTemporaryCopies(const std::string& mask) {
  const std::string folder = platform::MapPath(fileproc::UnsentFolder(fileproc::DirectoryPart(mask)));
  std::vector<platform::FoundFile> found;
  if (!env_.FindFiles(folder + "*", &found).ok()) return;
  for (const auto& f : found) {
    if (f.isDirectory || !platform::IsTemporaryCopyName(f.name)) continue;
    platform::Status s = env_.RemoveFile(folder + f.name);
    if (s.ok())
      platform::LogInfo("%s%s removed: a copy cut short", folder.c_str(), f.name.c_str());
    else
      platform::LogWarning("stale temporary copy not removed: %s", s.ToString().c_str());
  }
}

}  // namespace tv
