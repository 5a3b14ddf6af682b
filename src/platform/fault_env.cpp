#include "platform/fault_env.h"

#include <cerrno>
#include <cstdlib>

namespace tv::platform {
namespace {

constexpr const char* kOpNames[kFileOpCount] = {"read", "write", "append", "create", "link", "rename",
                                                "remove", "list", "stat", "touch", "mkdir"};

struct ErrnoName {
  const char* name;
  int value;
};
constexpr ErrnoName kErrnoNames[] = {{"ENOSPC", ENOSPC}, {"EIO", EIO},       {"EACCES", EACCES},
                                     {"EPERM", EPERM},   {"EDQUOT", EDQUOT}, {"EROFS", EROFS},
                                     {"EFBIG", EFBIG},   {"ENOENT", ENOENT}, {"EEXIST", EEXIST},
                                     {"EMFILE", EMFILE}, {"EBUSY", EBUSY}};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool ParseOp(const std::string& name, FileOp* op) {
  for (size_t i = 0; i < kFileOpCount; ++i) {
    if (name == kOpNames[i]) {
      *op = static_cast<FileOp>(i);
      return true;
    }
  }
  return false;
}

bool ParseErrno(const std::string& name, int* value) {
  for (const ErrnoName& e : kErrnoNames) {
    if (name == e.name) {
      *value = e.value;
      return true;
    }
  }
  return false;
}

bool ParseCount(const std::string& text, int* value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *value = std::atoi(text.c_str());
  return true;
}

// One "op:ERRNO[:key=value...]" item.
Result<FileFault> ParseFault(const std::string& item) {
  FileFault fault;
  std::vector<std::string> fields = Split(item, ':');
  if (fields.size() < 2 || !ParseOp(fields[0], &fault.op))
    return Refusal("unknown operation in '" + item + "'");
  if (!ParseErrno(fields[1], &fault.osError))
    return Refusal("unknown error name in '" + item + "'");
  for (size_t i = 2; i < fields.size(); ++i) {
    const std::string& f = fields[i];
    bool ok = false;
    if (f.rfind("after=", 0) == 0) ok = ParseCount(f.substr(6), &fault.after);
    if (f.rfind("times=", 0) == 0) ok = ParseCount(f.substr(6), &fault.times);
    if (f.rfind("path=", 0) == 0) {
      fault.pathPattern = f.substr(5);
      ok = !fault.pathPattern.empty();
    }
    if (!ok) return Refusal("bad setting '" + f + "' in '" + item + "'");
  }
  return fault;
}

// Reads through the base file, failing the chunks the faults choose.
class FaultySequentialFile : public SequentialFile {
 public:
  FaultySequentialFile(FaultInjectionEnv* env, std::string path, std::unique_ptr<SequentialFile> base)
      : env_(env), path_(std::move(path)), base_(std::move(base)) {}

  Status Read(size_t n, std::string* chunk) override {
    Status s = env_->Check(FileOp::kRead, path_);
    if (!s.ok()) {
      chunk->clear();
      return s;
    }
    return base_->Read(n, chunk);
  }

 private:
  FaultInjectionEnv* env_;
  std::string path_;
  std::unique_ptr<SequentialFile> base_;
};

}  // namespace

const char* FileOpName(FileOp op) { return kOpNames[static_cast<size_t>(op)]; }

Result<std::vector<FileFault>> ParseFileFaults(const std::string& faultList) {
  std::vector<FileFault> faults;
  for (const std::string& item : Split(faultList, ';')) {
    if (item.empty()) continue;
    Result<FileFault> fault = ParseFault(item);
    if (!fault.ok()) return fault.status();
    faults.push_back(fault.value());
  }
  if (faults.empty()) return Refusal("no fault given");
  return faults;
}

void FaultInjectionEnv::AddFault(const FileFault& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.push_back(ArmedFault{fault});
}

void FaultInjectionEnv::ClearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
}

int FaultInjectionEnv::Calls(FileOp op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_[static_cast<size_t>(op)];
}

int FaultInjectionEnv::Failures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failures_;
}

Status FaultInjectionEnv::Check(FileOp op, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_[static_cast<size_t>(op)];
  for (ArmedFault& armed : faults_) {
    const FileFault& f = armed.fault;
    if (f.op != op || !WildcardMatch(f.pathPattern, path)) continue;
    if (++armed.matched <= f.after) continue;
    if (f.times >= 0 && armed.failed >= f.times) continue;
    ++armed.failed;
    ++failures_;
    return Status::IOError(FileOpName(op), path, f.osError);
  }
  return Status::OK();
}

Status FaultInjectionEnv::ReadFile(const std::string& path, std::string* data) {
  Status s = Check(FileOp::kRead, path);
  return s.ok() ? base_->ReadFile(path, data) : s;
}

Status FaultInjectionEnv::NewSequentialFile(const std::string& path, std::unique_ptr<SequentialFile>* file) {
  std::unique_ptr<SequentialFile> base;
  Status s = base_->NewSequentialFile(path, &base);
  if (s.ok()) *file = std::make_unique<FaultySequentialFile>(this, path, std::move(base));
  return s;
}

Status FaultInjectionEnv::WriteFile(const std::string& path, const std::string& data) {
  Status s = Check(FileOp::kWrite, path);
  return s.ok() ? base_->WriteFile(path, data) : s;
}

Status FaultInjectionEnv::AppendFile(const std::string& path, const std::string& data) {
  Status s = Check(FileOp::kAppend, path);
  return s.ok() ? base_->AppendFile(path, data) : s;
}

Status FaultInjectionEnv::WriteNewFile(const std::string& path, const std::string& data) {
  Status s = Check(FileOp::kCreate, path);
  return s.ok() ? base_->WriteNewFile(path, data) : s;
}

Status FaultInjectionEnv::LinkFile(const std::string& from, const std::string& to) {
  Status s = Check(FileOp::kLink, to);
  return s.ok() ? base_->LinkFile(from, to) : s;
}

Status FaultInjectionEnv::RenameFile(const std::string& from, const std::string& to) {
  Status s = Check(FileOp::kRename, from);
  return s.ok() ? base_->RenameFile(from, to) : s;
}

Status FaultInjectionEnv::MoveFileNoReplace(const std::string& from, const std::string& to) {
  Status s = Check(FileOp::kRename, to);
  return s.ok() ? base_->MoveFileNoReplace(from, to) : s;
}

Status FaultInjectionEnv::RemoveFile(const std::string& path) {
  Status s = Check(FileOp::kRemove, path);
  return s.ok() ? base_->RemoveFile(path) : s;
}

Status FaultInjectionEnv::FindFiles(const std::string& pattern, std::vector<FoundFile>* found) {
  Status s = Check(FileOp::kList, pattern);
  if (!s.ok()) {
    found->clear();
    return s;
  }
  return base_->FindFiles(pattern, found);
}

Status FaultInjectionEnv::GetFileInfo(const std::string& path, FileInfo* info) {
  Status s = Check(FileOp::kStat, path);
  return s.ok() ? base_->GetFileInfo(path, info) : s;
}

// An access check is a look at the inode, like stat.
Status FaultInjectionEnv::CheckAccess(const std::string& path, int rights) {
  Status s = Check(FileOp::kStat, path);
  return s.ok() ? base_->CheckAccess(path, rights) : s;
}

Status FaultInjectionEnv::SetLastWriteTime(const std::string& path, FileTime time) {
  Status s = Check(FileOp::kTouch, path);
  return s.ok() ? base_->SetLastWriteTime(path, time) : s;
}

Status FaultInjectionEnv::CreateDirectories(const std::string& path) {
  Status s = Check(FileOp::kMkdir, path);
  return s.ok() ? base_->CreateDirectories(path) : s;
}

Status FaultInjectionEnv::ResolvePath(const std::string& path, std::string* resolved) {
  Status s = Check(FileOp::kStat, path);
  Status resolving = base_->ResolvePath(path, resolved);
  return s.ok() ? resolving : s;
}

}  // namespace tv::platform
