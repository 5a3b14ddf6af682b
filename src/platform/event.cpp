#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace tv::platform {

Event::Event(std::string name) : name_(std::move(name)) {
  fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd_ < 0) throw std::runtime_error("cannot create event " + name_);
}

Event::~Event() {
  if (fd_ >= 0) close(fd_);
}

void Event::Set() {
  uint64_t one = 1;
  // A full counter still means "signalled"; nothing to do on EAGAIN.
  [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

void Event::Reset() {
  uint64_t v;
  while (read(fd_, &v, sizeof v) > 0) {
  }
}

bool Event::IsSet() const { return Wait(0); }

bool Event::Wait(int timeoutMs) const { return WaitForAny({this}, timeoutMs) == 0; }

int WaitForAny(std::initializer_list<const Event*> events, int timeoutMs) {
  std::vector<pollfd> fds;
  for (const Event* e : events) fds.push_back(pollfd{e->Fd(), POLLIN, 0});
  for (;;) {
    int n = poll(fds.data(), fds.size(), timeoutMs < 0 ? -1 : timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return kWaitTimeout;
    for (size_t i = 0; i < fds.size(); ++i)
      if (fds[i].revents & POLLIN) return static_cast<int>(i);
    return kWaitTimeout;
  }
}

}  // namespace tv::platform
