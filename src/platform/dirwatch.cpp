#include "platform/dirwatch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tv::platform {

DirWatch::~DirWatch() { Close(); }

void DirWatch::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Status DirWatch::Watch(const std::string& hostDir) {
  Close();
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return Status::IOError("watch", hostDir, errno);
  // IN_ONLYDIR: a directory replaced by a file is no directory to watch.
  if (::inotify_add_watch(fd, hostDir.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_ONLYDIR) < 0) {
    const int err = errno;
    ::close(fd);
    return Status::IOError("watch", hostDir, err);
  }
  fd_ = fd;
  return Status::OK();
}

std::vector<std::string> DirWatch::Wait(int timeoutMs) {
  std::vector<std::string> names;
  if (fd_ < 0) return names;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return names;
  alignas(inotify_event) char buf[16 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
      if (e->len > 0 && (e->mask & IN_ISDIR) == 0) names.emplace_back(e->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  return names;
}

}  // namespace tv::platform
