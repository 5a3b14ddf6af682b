// Tells, the moment it happens, which files of one directory are complete:
// a name renamed into it or a file closed after writing (inotify).  What it
// cannot see (a network mount, a writer that keeps the file open) it never
// reports; those are left to the directory's periodic listing.
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace tv::platform {

class DirWatch {
 public:
  DirWatch() = default;
  ~DirWatch();
  DirWatch(const DirWatch&) = delete;
  DirWatch& operator=(const DirWatch&) = delete;

  // Watches `hostDir` instead of the directory watched before.
  Status Watch(const std::string& hostDir);
  // Waits up to `timeoutMs` for files to complete; their names, without
  // the directory, in the order they completed.  Empty on time-out, and at
  // once when nothing is watched.
  std::vector<std::string> Wait(int timeoutMs);

 private:
  void Close();

  int fd_ = -1;
};

}  // namespace tv::platform
