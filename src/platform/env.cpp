// Operations built from Env calls, so they meet the same injected faults.
#include "platform/env.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/guid.h"
#include "platform/log.h"

namespace tv::platform {

bool Env::FileExists(const std::string& path) {
  FileInfo info;
  return GetFileInfo(path, &info).ok() && info.type != FileType::kDirectory;
}

bool Env::DirectoryExists(const std::string& path) {
  FileInfo info;
  return GetFileInfo(path, &info).ok() && info.type == FileType::kDirectory;
}
namespace {

constexpr char kTemporarySuffix[] = ".tmp";

// Hidden (leading dot) and unique within the process and across processes.
std::string TemporaryNameFor(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  return ExtractFilePath(target) + "." + ExtractFileName(target) + "." + std::to_string(::getpid()) + "." +
         std::to_string(counter++) + kTemporarySuffix;
}

}  // namespace

// "." + target name + "." + pid + "." + counter + ".tmp".
bool IsTemporaryCopyName(const std::string& name) {
  const size_t suffix = sizeof kTemporarySuffix - 1;
  if (name.size() <= suffix + 1 || name[0] != '.' ||
      name.compare(name.size() - suffix, suffix, kTemporarySuffix) != 0)
    return false;
  size_t end = name.size() - suffix;
  for (int group = 0; group < 2; ++group) {
    const size_t dot = name.rfind('.', end - 1);
    if (dot == 0 || dot == std::string::npos || dot + 1 == end) return false;
    for (size_t i = dot + 1; i < end; ++i)
      if (name[i] < '0' || name[i] > '9') return false;
    end = dot;
  }
  return end > 1;
}

Status ReadRegularFile(Env& env, const std::string& path, uint64_t limit, std::string* data) {
  constexpr size_t kChunk = 64 * 1024;
  data->clear();
  std::unique_ptr<SequentialFile> file;
  Status s = env.NewSequentialFile(path, &file);
  if (!s.ok()) return s;
  std::string chunk;
  for (;;) {
    const uint64_t room = limit - std::min<uint64_t>(limit, data->size());
    // One byte past the limit tells a file of exactly the limit from a larger one.
    s = file->Read(static_cast<size_t>(std::min<uint64_t>(kChunk, room + 1)), &chunk);
    if (!s.ok()) break;
    if (chunk.empty()) return Status::OK();
    if (chunk.size() > room) {
      s = Status::IOError("read", path, EFBIG);
      break;
    }
    data->append(chunk);
  }
  std::string().swap(*data);
  return s;
}

Status CopyFileNoOverwrite(Env& env, const std::string& from, const std::string& to) {
  FileInfo source;
  Status s = env.GetFileInfo(from, &source);
  if (!s.ok()) return s;
  if (source.type == FileType::kDirectory) return Status::InvalidArgument("copy", from, "is a directory");
  FileInfo existing;
  if (env.GetFileInfo(to, &existing).ok()) return Status::IOError("copy", to, EEXIST);
  std::string data;
  s = ReadRegularFile(env, from, UINT64_MAX - 1, &data);
  if (!s.ok()) return s;
  return PublishNewFile(env, to, data, source.lastWrite);
}

Status PublishNewFile(Env& env, const std::string& to, const std::string& data,
                      FileTime lastWrite) {
  const std::string temporary = TemporaryNameFor(to);
  Status s = env.WriteNewFile(temporary, data);
  if (!s.ok()) return s;
  s = env.SetLastWriteTime(temporary, lastWrite);
  // link() refuses an existing target, which a rename would overwrite.
  if (s.ok()) s = env.LinkFile(temporary, to);
  Status removed = env.RemoveFile(temporary);
  if (!removed.ok()) LogWarning("temporary copy left behind: %s", removed.ToString().c_str());
  return s;
}

Status ProveWritable(Env& env, const std::string& dir) {
  std::string probe = dir;
  if (probe.empty() || probe.back() != '/') probe += '/';
  // Hidden, so that a listing running meanwhile never takes it for an
  // export file.
  probe += ".tovalink-probe-" + NewGuidText();
  Status s = env.WriteNewFile(probe, "");
  if (!s.ok()) return s;
  return env.RemoveFile(probe);
}

}  // namespace tv::platform
