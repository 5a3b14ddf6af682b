// Import file reading: a goods file's bytes read in chunks up to the
// stored size limit, then filed into the four line lists by the parser of
// importparse.h.
#include <cerrno>

#include "files/importparse.h"
#include "files/fileproc.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/log.h"

namespace tv {

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

uint64_t SizeLimit(const TEngineSettingsPtr& settings) {
  const uint32_t mb = settings && settings->MaxFileSizeMB != 0 ? settings->MaxFileSizeMB : 256;
  return mb * kMiB;
}

}  // namespace

void CFiles::Refuse(TImportRefusal refusal, std::string reason) {
  refusal_ = refusal;
  refusalReason_ = std::move(reason);
}

// The one place an import file is read: never more than the size limit
// into memory, and only a regular file.
bool CFiles::ReadImportFile(const std::string& path, std::string& data) {
  if (path.empty()) {
    Refuse(TImportRefusal::kMissing, "no path");
    return false;
  }
  const std::string host = platform::MapPath(path);
  const uint64_t limit = SizeLimit(settings_.Get());
  platform::FileInfo info;
  if (env_.GetFileInfo(host, &info).ok() && info.type == platform::FileType::kRegular && info.size > limit) {
    Refuse(TImportRefusal::kTooLarge, host + " has " + std::to_string(info.size) + " bytes, more than MaxFileSizeMB " +
                                          std::to_string(limit / kMiB) + " allows");
    return false;
  }
  platform::Status status = platform::ReadRegularFile(env_, host, limit, &data);
  if (status.ok()) return true;
  if (status.IsNotFound())
    Refuse(TImportRefusal::kMissing, status.ToString());
  else if (status.osError() == EFBIG)
    Refuse(TImportRefusal::kTooLarge, host + " grew beyond MaxFileSizeMB " + std::to_string(limit / kMiB));
  else
    Refuse(TImportRefusal::kUnreadable, status.ToString());
  platform::LogWarning("goods file not read: %s", refusalReason_.c_str());
  return false;
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

bool CFiles::ParseImportFile(const std::string& path, TLineLists& lists) {
  Refuse(TImportRefusal::kNone, "");
  if (!OpenImportFile(path)) return false;
  TEngineSettingsPtr settings = settings_.Get();
  const int importType = settings ? settings->ImportType : -1;
  bool ok = ParseImportBytes(importData_, importType, ListSeparator(), lists);
  CloseImportFile();
  if (!ok) Refuse(TImportRefusal::kNothingToSend, "no goods, deletion or clock line could be read from it");
  return ok;
}

}  // namespace tv
