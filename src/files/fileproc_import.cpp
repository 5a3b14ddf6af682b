// Import file reading: a goods file is read in chunks and filed line by
// line, so memory holds what was filed plus one chunk and the line being
// read, never more of the file than the stored size limit.
#include <algorithm>
#include <cerrno>
#include <utility>

#include "config/storedvalues.h"
#include "files/fileproc.h"
#include "files/importparse.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/log.h"

namespace tv {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr size_t kChunk = 64 * 1024;

uint64_t SizeLimit(const TEngineSettingsPtr& settings) {
  const uint32_t mb = settings && settings->MaxFileSizeMB != 0 ? settings->MaxFileSizeMB
                                                               : config::kMaxFileSizeMB.number;
  return mb * kMiB;
}

std::string TooLarge(const std::string& host, const std::string& size, uint64_t limit) {
  return host + " has " + size + " bytes, more than MaxFileSizeMB " + std::to_string(limit / kMiB) + " allows";
}

}  // namespace

void CFiles::Refuse(TImportRefusal refusal, std::string reason) {
  refusal_ = refusal;
  refusalReason_ = std::move(reason);
}

// False, with the refusal set, for a file over the limit before a byte of
// it is read.
bool CFiles::WithinLimit(const std::string& host, uint64_t limit) {
  platform::FileInfo info;
  if (!env_.GetFileInfo(host, &info).ok() || info.type != platform::FileType::kRegular || info.size <= limit)
    return true;
  Refuse(TImportRefusal::kTooLarge, TooLarge(host, std::to_string(info.size), limit));
  return false;
}

bool CFiles::RefuseRead(const platform::Status& status, const std::string& host, uint64_t limit) {
  if (status.IsNotFound())
    Refuse(TImportRefusal::kMissing, status.ToString());
  else if (status.osError() == EFBIG)
    Refuse(TImportRefusal::kTooLarge, TooLarge(host, "grew to more than " + std::to_string(limit), limit));
  else
    Refuse(TImportRefusal::kUnreadable, status.ToString());
  platform::LogWarning("goods file not read: %s", refusalReason_.c_str());
  return false;
}

// The whole file for the reader functions below: only a regular file, and
// never more than the size limit.
bool CFiles::ReadImportFile(const std::string& path, std::string& data) {
  if (path.empty()) {
    Refuse(TImportRefusal::kMissing, "no path");
    return false;
  }
  const std::string host = platform::MapPath(path);
  const uint64_t limit = SizeLimit(settings_.Get());
  if (!WithinLimit(host, limit)) return false;
  platform::Status status = platform::ReadRegularFile(env_, host, limit, &data);
  return status.ok() || RefuseRead(status, host, limit);
}

bool CFiles::OpenImportFile(const std::string& path) {
  importOpen_ = false;
  importData_.clear();
  importPos_ = 0;
  if (!ReadImportFile(path, importData_)) {
    importData_.clear();
    return false;
  }
  importOpen_ = true;
  return true;
}

void CFiles::CloseImportFile() {
  if (!importOpen_) return;
  std::string().swap(importData_);  // a large file's memory goes back at once
  importPos_ = 0;
  importOpen_ = false;
}

bool CFiles::ReadFixedFormat(TLineLists& lists) { return ReadLines(lists, false); }

bool CFiles::ReadDelimitedFormat(TLineLists& lists) { return ReadLines(lists, true); }

bool CFiles::ReadLines(TLineLists& lists, bool delimited) {
  if (!importOpen_) return false;
  return ReadImportLines(importData_, importPos_, delimited, ListSeparator(), lists);
}

// Only whole lines go to the reader, so a chunk boundary never splits a
// field; the result is the one ParseImportBytes gives for the whole file.
bool CFiles::ParseImportFile(const std::string& path, TLineLists& lists) {
  Refuse(TImportRefusal::kNone, "");
  importOpen_ = false;
  if (path.empty()) {
    Refuse(TImportRefusal::kMissing, "no path");
    return false;
  }
  const std::string host = platform::MapPath(path);
  TEngineSettingsPtr settings = settings_.Get();
  const uint64_t limit = SizeLimit(settings);
  if (!WithinLimit(host, limit)) return false;
  std::unique_ptr<platform::SequentialFile> file;
  platform::Status status = env_.NewSequentialFile(host, &file);
  if (!status.ok()) return RefuseRead(status, host, limit);

  const int importType = settings ? settings->ImportType : -1;
  const bool reads = importType == itFixed || importType == itDelimited || importType == itExtended;
  ClearLineLists(lists);
  std::string pending, chunk;
  uint64_t total = 0;
  size_t linesBefore = 0;
  for (bool ended = false; !ended;) {
    status = file->Read(kChunk, &chunk);
    if (status.ok() && (total += chunk.size()) > limit) status = platform::Status::IOError("read", host, EFBIG);
    if (!status.ok()) return RefuseRead(status, host, limit);
    const bool atEnd = chunk.empty();
    pending += chunk;
    const size_t lastLf = pending.rfind('\n');
    const size_t whole = atEnd ? pending.size() : lastLf == std::string::npos ? 0 : lastLf + 1;
    if (whole == 0 && !atEnd) continue;
    size_t pos = 0;
    if (reads && !ReadImportLines(std::string_view(pending).substr(0, whole), pos, importType != itFixed,
                                  ListSeparator(), lists, linesBefore)) {
      Refuse(TImportRefusal::kUnreadable, host + ": its lines could not be filed");
      return false;
    }
    // The reader stops short of the whole lines only at a Ctrl-Z.
    ended = atEnd || !reads || pos < whole;
    linesBefore += static_cast<size_t>(std::count(pending.begin(), pending.begin() + whole, '\n'));
    pending.erase(0, whole);
  }
  if (!lists.aLines.empty() || !lists.dLines.empty() || !lists.tLines.empty()) return true;
  Refuse(TImportRefusal::kNothingToSend, "no goods, deletion or clock line could be read from it");
  return false;
}

}  // namespace tv
