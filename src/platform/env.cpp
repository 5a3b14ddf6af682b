// Operations built from Env calls, so they meet the same injected faults.
#include <unistd.h>

#include <atomic>

#include "platform/env.h"
#include "platform/log.h"

namespace tv::platform {
namespace {

// Hidden (leading dot) and unique within the process and across processes.
std::string TemporaryNameFor(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  return ExtractFilePath(target) + "." + ExtractFileName(target) + "." + std::to_string(::getpid()) + "." +
         std::to_string(counter++) + ".tmp";
}

}  // namespace

Status CopyFileNoOverwrite(Env& env, const std::string& from, const std::string& to) {
  FileInfo source;
  Status s = env.GetFileInfo(from, &source);
  if (!s.ok()) return s;
  if (source.type == FileType::kDirectory) return Status::InvalidArgument("copy", from, "is a directory");
  FileInfo existing;
  if (env.GetFileInfo(to, &existing).ok()) return Status::IOError("copy", to, EEXIST);
  std::string data;
  s = env.ReadFile(from, &data);
  if (!s.ok()) return s;
  const std::string temporary = TemporaryNameFor(to);
  s = env.WriteNewFile(temporary, data);
  if (!s.ok()) return s;
  s = env.SetLastWriteTime(temporary, source.lastWrite);
  // link() refuses an existing target, which a rename would overwrite.
  if (s.ok()) s = env.LinkFile(temporary, to);
  Status removed = env.RemoveFile(temporary);
  if (!removed.ok()) LogWarning("temporary copy left behind: %s", removed.ToString().c_str());
  return s;
}

}  // namespace tv::platform
