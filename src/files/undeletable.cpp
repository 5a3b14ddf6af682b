#include "files/undeletable.h"

#include <sstream>

#include "platform/fs.h"
#include "platform/log.h"

namespace tv {
namespace {

int64_t Nanoseconds(platform::FileTime t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// One line per file: size, time stamp in nanoseconds, host path.
std::string Format(const std::map<std::string, TUndeletableFile>& files) {
  std::string out;
  for (const auto& [path, f] : files)
    out += std::to_string(f.size) + "\t" + std::to_string(f.lastWriteNs) + "\t" + path + "\n";
  return out;
}

}  // namespace

TUndeletableFiles::TUndeletableFiles(platform::Env& env, std::string recordPath)
    : env_(env), recordPath_(std::move(recordPath)) {
  // Entries of files removed or rewritten meanwhile are dropped here: a
  // listing never meets a removed file again.
  const std::vector<TUndeletableFile> recorded = Read(env_, recordPath_);
  for (const TUndeletableFile& f : recorded) {
    platform::FileInfo info;
    if (env_.GetFileInfo(f.path, &info).ok() && info.size == f.size &&
        Nanoseconds(info.lastWrite) == f.lastWriteNs)
      files_[f.path] = f;
  }
  if (files_.size() != recorded.size()) Save();
}

std::string TUndeletableFiles::RecordPathFor(const std::string& storePath) {
  return platform::ExtractFilePath(storePath) + "undeletable-files";
}

std::vector<TUndeletableFile> TUndeletableFiles::Read(platform::Env& env,
                                                      const std::string& recordPath) {
  std::vector<TUndeletableFile> out;
  std::string text;
  if (!env.ReadFile(recordPath, &text).ok()) return out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    TUndeletableFile f;
    std::istringstream fields(line);
    if (!(fields >> f.size >> f.lastWriteNs) || fields.get() != '\t') continue;  // a torn line
    std::getline(fields, f.path);
    if (!f.path.empty()) out.push_back(std::move(f));
  }
  return out;
}

bool TUndeletableFiles::Remembers(const std::string& hostPath) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(hostPath);
  if (it == files_.end()) return false;
  platform::FileInfo info;
  const bool unchanged = env_.GetFileInfo(hostPath, &info).ok() && info.size == it->second.size &&
                         Nanoseconds(info.lastWrite) == it->second.lastWriteNs;
  // A passing cause (a full journal, a lock) may be gone: one quiet try at
  // every check costs a system call.
  if (unchanged && !env_.RemoveFile(hostPath).ok()) return true;
  if (unchanged) platform::LogInfo("%s removed after all", hostPath.c_str());
  files_.erase(it);
  Save();
  return unchanged;
}

void TUndeletableFiles::Remember(const std::string& hostPath, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  platform::FileInfo info;
  if (!env_.GetFileInfo(hostPath, &info).ok()) return;  // gone after all
  TUndeletableFile f{hostPath, info.size, Nanoseconds(info.lastWrite)};
  auto [it, added] = files_.insert_or_assign(hostPath, f);
  (void)it;
  Save();
  if (added)
    platform::LogError(
        "%s was delivered but cannot be removed: %s; it is not delivered again until it changes, "
        "and should be removed by hand (tovalink status lists it)",
        hostPath.c_str(), reason.c_str());
}

// Written whole under a temporary name and renamed over the record, so a
// kill never leaves half a record.
void TUndeletableFiles::Save() {
  const std::string temporary = recordPath_ + ".new";
  env_.RemoveFile(temporary);
  platform::Status s = env_.WriteNewFile(temporary, Format(files_));
  if (s.ok()) s = env_.RenameFile(temporary, recordPath_);
  if (!s.ok())
    platform::LogError(
        "the list of undeletable delivered files is not saved: %s; they may be delivered "
        "again after a restart",
        s.ToString().c_str());
}

}  // namespace tv
