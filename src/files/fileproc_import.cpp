// Import file reading: a goods file's bytes read whole, then filed into the
// four line lists by the parser of importparse.h.
#include <utility>

#include "files/fileproc.h"
#include "files/importparse.h"
#include "platform/fs.h"
#include "platform/log.h"

namespace tv {

// The one place an import file is read.
bool CFiles::ReadImportFile(const std::string& path, std::string& data) {
  if (path.empty()) return false;
  const std::string host = platform::MapPath(path);
  platform::Status status = env_.ReadFile(host, &data);
  if (!status.ok()) platform::LogWarning("goods file not read: %s", status.ToString().c_str());
  return status.ok();
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
  if (!OpenImportFile(path)) return false;
  TEngineSettingsPtr settings = settings_.Get();
  const int importType = settings ? settings->ImportType : -1;
  // The lists take the bytes over: their lines are views into them.
  bool ok = ParseImportBytes(std::move(importData_), importType, ListSeparator(), lists);
  CloseImportFile();
  return ok;
}

}  // namespace tv
