#include "platform/instancelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/env.h"
#include "platform/oserror.h"

namespace tv::platform {
namespace {

long ReadPid(int fd) {
  char buf[32] = {};
  const ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
  return n > 0 ? std::strtol(buf, nullptr, 10) : 0;
}

}  // namespace

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

Status InstanceLock::Acquire(const std::string& dir, long& holderPid) {
  holderPid = 0;
  Env::Default()->CreateDirectories(dir);
  const std::string path = dir + "/tovalink.lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return Status::IOError("cannot open", path, errno);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK) holderPid = ReadPid(fd);
    close(fd);
    return Status::IOError("cannot lock", path, error);
  }
  const std::string pid = std::to_string(static_cast<long>(getpid())) + "\n";
  if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    // The lock holds all the same; only the pid in the message is lost.
  }
  fd_ = fd;
  return Status::OK();
}

bool InstanceLockHeld(const std::string& dir) {
  const std::string path = dir + "/tovalink.lock";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // A shared lock is refused only while the service's exclusive one stands.
  const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held;
}

}  // namespace tv::platform
