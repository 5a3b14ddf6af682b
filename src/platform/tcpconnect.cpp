#include "platform/tcpconnect.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace tv::platform {
namespace {

bool SetBlocking(int fd, bool blocking) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

// Waits for the pending connect to finish; 0 on success, else an errno.
int AwaitConnect(int fd, int timeoutMs) {
  pollfd p{fd, POLLOUT, 0};
  int n;
  do {
    n = poll(&p, 1, timeoutMs);
  } while (n < 0 && errno == EINTR);
  if (n == 0) return ETIMEDOUT;
  if (n < 0) return errno;
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

}  // namespace

Status ConnectWithTimeout(TcpSocket& socket, const std::string& dottedAddress, uint16_t port,
                          int timeoutMs) {
  uint32_t addr = InetAddr(dottedAddress);
  if (addr == kInvalidAddress) return Refusal("not an IPv4 address");
  if (!socket.Create() || !SetBlocking(socket.Fd(), false)) return Status::IOError({}, {}, errno);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = addr;
  int err = 0;
  if (connect(socket.Fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    err = errno == EINPROGRESS ? AwaitConnect(socket.Fd(), timeoutMs) : errno;
  }
  if (err == 0 && !SetBlocking(socket.Fd(), true)) err = errno;
  if (err != 0) {
    socket.Close();
    return err == ETIMEDOUT ? Refusal("timed out") : Status::IOError({}, {}, err);
  }
  return Status::OK();
}

}  // namespace tv::platform
