#include "config/exportlockmark.h"

#include <chrono>

#include "platform/fs.h"
#include "platform/log.h"

namespace tv::config {

std::string ExportLockMarkPath(const std::string& storePath) {
  return platform::ExtractFilePath(storePath) + "exports.locked";
}

void SetExportLockMark(platform::Env& env, const std::string& storePath, bool locked) {
  const std::string path = ExportLockMarkPath(storePath);
  platform::FileInfo info;
  const bool marked = env.GetFileInfo(path, &info).ok();
  if (locked) {
    if (marked) return;  // a second lock keeps the first one's time
    const platform::Status s = env.WriteFile(path, "");
    if (!s.ok())
      platform::LogWarning("exports are locked, but %s cannot be written: %s", path.c_str(),
                           s.ToString().c_str());
    return;
  }
  if (!marked) return;
  const platform::Status s = env.RemoveFile(path);
  if (!s.ok())
    platform::LogWarning("exports are not locked, but %s cannot be removed: %s", path.c_str(),
                         s.ToString().c_str());
}

std::optional<std::time_t> ExportLockedSince(platform::Env& env, const std::string& storePath) {
  platform::FileInfo info;
  if (!env.GetFileInfo(ExportLockMarkPath(storePath), &info).ok()) return std::nullopt;
  return std::chrono::system_clock::to_time_t(info.lastWrite);
}

}  // namespace tv::config
