// The delivered files that could not be removed (a read-only mount, a
// directory the service may not write).  Such a file would otherwise be
// delivered again every cycle, forever; it is remembered by name, size and
// time stamp in a small record beside the store, so that it is skipped
// across cycles and restarts while it stays as it is, and the operator is
// told once per file.  `tovalink status` reads the same record.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/env.h"

namespace tv {

struct TUndeletableFile {
  std::string path;  // host path
  uint64_t size = 0;
  int64_t lastWriteNs = 0;  // nanoseconds since the epoch
};

class TUndeletableFiles {
 public:
  // `recordPath` is a host path; a missing record is an empty one.
  TUndeletableFiles(platform::Env& env, std::string recordPath);

  // True when `hostPath` was delivered and left undeletable and still has
  // the size and time stamp it had then; its removal is tried again, and
  // it is forgotten once that works.  A file that changed or vanished is
  // forgotten too (false): it is new data, or gone.
  bool Remembers(const std::string& hostPath);
  // Records `hostPath` as delivered but not removable; one error in the
  // service log per file.
  void Remember(const std::string& hostPath, const std::string& reason);

  // The record's file name beside the store at `storePath`.
  static std::string RecordPathFor(const std::string& storePath);
  // The entries of the record at `recordPath`; empty when there is none.
  static std::vector<TUndeletableFile> Read(platform::Env& env, const std::string& recordPath);

 private:
  void Save();

  platform::Env& env_;
  const std::string recordPath_;
  std::mutex mutex_;  // the timer's check and the cycle both ask
  std::map<std::string, TUndeletableFile> files_;
};

}  // namespace tv
