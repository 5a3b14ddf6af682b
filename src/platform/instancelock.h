// One service per state directory: an exclusive lock on a lock file in it,
// held for the life of the process and released by the kernel however the
// process ends.  The file holds the holder's pid, for the message of the
// instance that is turned away.
#pragma once

#include <string>

#include "platform/status.h"

namespace tv::platform {

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock on `dir`/tovalink.lock, creating the directory and the
  // file.  Fails when another process holds it (osError EWOULDBLOCK,
  // `holderPid` its pid or 0 when unknown) or the file cannot be used.
  Status Acquire(const std::string& dir, long& holderPid);

 private:
  int fd_ = -1;
};

// True when a service holds the lock on `dir`/tovalink.lock now.  Reads
// only: neither the directory nor the file is made.
bool InstanceLockHeld(const std::string& dir);

}  // namespace tv::platform
