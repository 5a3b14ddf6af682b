#include "platform/udpreceiver.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/net.h"

namespace tv::platform {

bool UdpReceiver::Bind(const std::string& dottedAddress, uint16_t port) {
  Close();
  uint32_t addr = InetAddr(dottedAddress);
  if (addr == kInvalidAddress) return false;
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd_ < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = addr;
  if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    Close();
    return false;
  }
  return true;
}

uint16_t UdpReceiver::Port() const {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

long UdpReceiver::Receive(void* buf, size_t len, int timeoutMs, std::string* sender) {
  if (fd_ < 0) return -1;
  pollfd p{fd_, POLLIN, 0};
  int n;
  do {
    n = poll(&p, 1, timeoutMs);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return -1;
  sockaddr_in from{};
  socklen_t fromLen = sizeof from;
  ssize_t got = recvfrom(fd_, buf, len, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &fromLen);
  if (got < 0) return -1;
  if (sender) *sender = InetNtoa(from.sin_addr.s_addr);
  return static_cast<long>(got);
}

void UdpReceiver::Close() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

}  // namespace tv::platform
