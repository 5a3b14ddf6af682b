// Export file discovery: the timer's check for work, the two listings of a
// cycle and the ordering of goods files by age.
#include <algorithm>
#include <optional>

#include "files/fileproc.h"
#include "files/fileproc_util.h"
#include "files/parkedname.h"
#include "platform/fs.h"
#include "platform/log.h"

namespace tv {
namespace {

// Directories never count, and neither does a name beginning with ".": that
// also hides the temporary files of a copy still being written.  What is
// left must still be an ordinary file (CFiles::Ordinary).
bool Listable(const platform::FoundFile& f) { return !f.isDirectory && !f.name.empty() && f.name[0] != '.'; }

// Only the exact lower-case extension marks a keyboard file.
bool IsKeyboardFile(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && name.compare(dot, std::string::npos, ".xml") == 0;
}

std::string UnsentDir(const std::string& mask) {
  return fileproc::UnsentFolder(fileproc::DirectoryPart(mask));
}

std::string UnsentPattern(const std::string& mask) {
  return UnsentDir(mask) + "*" + platform::ExtractFileName(mask);
}

}  // namespace

bool CFiles::HasPendingFiles(const std::string& mask) {
  platform::Status failure;
  bool pending = AnyFile(mask, failure) || AnyFile(UnsentPattern(mask), failure);
  ReportPendingCheck(failure);
  return pending;
}

// A missing directory is no failure (the engine makes them); another reason
// is noted for ReportPendingCheck.
bool CFiles::AnyFile(const std::string& storedPattern, platform::Status& failure) {
  std::vector<platform::FoundFile> found;
  platform::Status s = env_.FindFiles(platform::MapPath(storedPattern), &found);
  if (!s.ok() && !s.IsNotFound()) failure = s;
  // Every entry is looked at, so an odd one is warned about even when
  // nothing else waits.
  const std::string dir = fileproc::DirectoryPart(storedPattern);
  bool any = false;
  for (const auto& f : found)
    if (Listable(f) && Ordinary(f, dir) && !Undeletable(dir, f.name)) any = true;
  return any;
}

// The timer asks every period, so a reason is logged when it first appears,
// not again while it stays the same.
void CFiles::ReportPendingCheck(const platform::Status& failure) {
  std::lock_guard<std::mutex> lock(pendingCheckMutex_);
  if (failure.ok()) {
    pendingCheckError_.clear();
    return;
  }
  std::string reason = failure.ToString();
  if (reason != pendingCheckError_) platform::LogWarning("export files cannot be checked: %s", reason.c_str());
  pendingCheckError_ = std::move(reason);
}

// Splits the entries of `storedPattern` into goods and keyboard files, each
// listed as `listedDir` + name.  A directory that cannot be read lists
// nothing.
void CFiles::CollectFiles(const std::string& storedPattern, const std::string& listedDir,
                          std::vector<std::string>& goodsFiles, std::vector<std::string>& keyboardFiles,
                          bool exportDir, std::vector<std::string>* waiting) {
  std::vector<platform::FoundFile> found;
  platform::Status s = env_.FindFiles(platform::MapPath(storedPattern), &found);
  if (!s.ok() && !s.IsNotFound()) platform::LogError("export files not listed: %s", s.ToString().c_str());
  for (const auto& f : found) {
    if (!Listable(f)) continue;
    if (!Admit(f, listedDir, exportDir)) {
      // Known to be there, not yet known to be whole: still waiting.
      if (waiting && Ordinary(f, listedDir) && !Undeletable(listedDir, f.name))
        waiting->push_back(listedDir + f.name);
      continue;
    }
    (IsKeyboardFile(f.name) ? keyboardFiles : goodsFiles).push_back(listedDir + f.name);
  }
}

// A file known whole at once (renamed in) must not overtake an older one
// still waiting out its quiet period (one there before the service started,
// say): a scale would get the newer prices first and the older ones after.
// Files as old as the oldest waiting one, or newer, wait with it.
void CFiles::HoldBehindWaiting(const std::vector<std::string>& waiting,
                               std::vector<std::string>& files) {
  std::optional<platform::FileTime> oldest;
  for (const std::string& path : waiting)
    if (auto stamp = LastWriteTime(path); stamp && (!oldest || *stamp < *oldest)) oldest = stamp;
  if (!oldest) return;
  std::erase_if(files, [&](const std::string& path) {
    const auto stamp = LastWriteTime(path);
    return !stamp || *stamp >= *oldest;
  });
}

void CFiles::ListExportFiles(const std::string& mask, std::vector<std::string>& commonFiles,
                             std::vector<std::string>& keyboardFiles) {
  commonFiles.clear();
  ++listing_;
  std::vector<std::string> waiting;
  CollectFiles(mask, fileproc::DirectoryPart(mask), commonFiles, keyboardFiles, true, &waiting);
  ForgetVanished();
  HoldBehindWaiting(waiting, commonFiles);
  HoldBehindWaiting(waiting, keyboardFiles);
  SortByFileTime(commonFiles);
}

void CFiles::ListUnsentFiles(const std::string& mask, std::vector<std::string>& unsentFiles,
                             std::vector<std::string>& keyboardFiles) {
  unsentFiles.clear();
  CollectFiles(UnsentPattern(mask), UnsentDir(mask), unsentFiles, keyboardFiles);
  SortByFileTime(unsentFiles);
}

// A vanished file has no stamp, which is no failure: the cycle lists and
// sorts while the back office may still be at work.
std::optional<platform::FileTime> CFiles::LastWriteTime(const std::string& path) {
  platform::FileInfo info;
  platform::Status s = env_.GetFileInfo(platform::MapPath(path), &info);
  if (!s.ok()) {
    if (!s.IsNotFound()) platform::LogWarning("export file not sorted by age: %s", s.ToString().c_str());
    return std::nullopt;
  }
  return info.lastWrite;
}

void CFiles::SortByFileTime(std::vector<std::string>& files) {
  // Full resolution, so that files written within one second keep the order
  // they were written in; ties go by the name the back office gave, which a
  // parked copy carries behind its GUID (the GUID is random).  A vanished file
  // goes last: it can no longer be delivered anyway.
  struct Entry {
    std::optional<platform::FileTime> stamp;
    std::string name;
    std::string path;
  };
  std::vector<Entry> entries;
  entries.reserve(files.size());
  for (auto& path : files) {
    std::optional<platform::FileTime> stamp = LastWriteTime(path);
    entries.push_back(
        {stamp, std::string(OriginalFileName(platform::ExtractFileName(path))), std::move(path)});
  }
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.stamp.has_value() != b.stamp.has_value()) return a.stamp.has_value();
    if (a.stamp != b.stamp) return *a.stamp < *b.stamp;
    return a.name < b.name;
  });
  files.clear();
  for (auto& e : entries) files.push_back(std::move(e.path));
}

uint8_t CFiles::ScaleNumberFromFileName(const std::string& path) {
  return tv::ScaleNumberFromFileName(path);
}

}  // namespace tv
