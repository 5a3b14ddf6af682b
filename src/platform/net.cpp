#include "platform/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tv::platform {
namespace {

bool SetTimeout(int fd, int option, int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

sockaddr_in MakeAddr(uint32_t networkAddr, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = networkAddr;
  return a;
}

}  // namespace

uint32_t InetAddr(const std::string& dotted) {
  in_addr a{};
  // inet_aton accepts the same forms as Winsock's inet_addr.
  if (inet_aton(dotted.c_str(), &a) == 0) return kInvalidAddress;
  return a.s_addr;
}

Status ResolveHost(const std::string& host, std::string& dotted) {
  uint32_t address = 0;
  if (ParseDottedQuad(host, address)) {
    dotted = host;
    return Status::OK();
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr)
    return Refusal("cannot find the host " + host + ": " + gai_strerror(rc));
  dotted = InetNtoa(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
  freeaddrinfo(found);
  return Status::OK();
}

bool ParseDottedQuad(const std::string& text, uint32_t& networkOrder) {
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  networkOrder = a.s_addr;
  return true;
}

uint32_t NetworkToHost(uint32_t value) { return ntohl(value); }

std::string InetNtoa(uint32_t networkOrder) {
  const auto* b = reinterpret_cast<const unsigned char*>(&networkOrder);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
         std::to_string(b[3]);
}

TcpSocket& TcpSocket::operator=(TcpSocket&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

bool TcpSocket::Create() {
  Close();
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd_ >= 0;
}

bool TcpSocket::SetSendTimeout(int ms) { return fd_ >= 0 && SetTimeout(fd_, SO_SNDTIMEO, ms); }
bool TcpSocket::SetRecvTimeout(int ms) { return fd_ >= 0 && SetTimeout(fd_, SO_RCVTIMEO, ms); }

bool TcpSocket::Bind(const std::string& dottedAddress, uint16_t port) {
  if (fd_ < 0) return false;
  sockaddr_in a = MakeAddr(InetAddr(dottedAddress), port);
  return bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool TcpSocket::Connect(const std::string& dottedAddress, uint16_t port) {
  if (fd_ < 0) return false;
  sockaddr_in a = MakeAddr(InetAddr(dottedAddress), port);
  int r;
  do {
    r = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } while (r < 0 && errno == EINTR);
  return r == 0;
}

bool TcpSocket::SendAll(const void* data, size_t len) {
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    ssize_t n = send(fd_, p, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

long TcpSocket::Recv(void* buf, size_t len) {
  if (fd_ < 0) return -1;
  for (;;) {
    ssize_t n = recv(fd_, buf, len, 0);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<long>(n);
  }
}

bool TcpSocket::RecvByte(uint8_t& b) { return Recv(&b, 1) == 1; }

bool TcpSocket::RecvExact(void* buf, size_t len) {
  char* p = static_cast<char*>(buf);
  while (len > 0) {
    long n = Recv(p, len);
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool TcpSocket::Shutdown() { return fd_ >= 0 && shutdown(fd_, SHUT_RDWR) == 0; }

void TcpSocket::Close() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

bool TcpListener::Listen(uint16_t port, int backlog, const std::string& bindAddress) {
  Close();
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return false;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = MakeAddr(InetAddr(bindAddress), port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
    close(fd);
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  fd_ = fd;
  closing_ = false;
  return true;
}

bool TcpListener::Valid() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fd_ >= 0 && !closing_;
}

uint16_t TcpListener::Port() const {
  std::lock_guard<std::mutex> lock(mutex_);
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

TcpSocket TcpListener::Accept(std::string* peer) {
  int lfd;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0 || closing_) return TcpSocket();
    lfd = fd_;
    ++acceptors_;
  }
  sockaddr_in a{};
  socklen_t len = sizeof a;
  int fd;
  do {
    fd = accept4(lfd, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  std::lock_guard<std::mutex> lock(mutex_);
  --acceptors_;
  if (closing_) {
    if (fd >= 0) close(fd);
    if (acceptors_ == 0) ReleaseLocked();
    return TcpSocket();
  }
  if (fd >= 0 && peer) *peer = InetNtoa(a.sin_addr.s_addr);
  return TcpSocket(fd);
}

void TcpListener::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ < 0 || closing_) return;
  closing_ = true;
  // shutdown() wakes a thread blocked in accept(); close() alone does not.
  shutdown(fd_, SHUT_RDWR);
  if (acceptors_ == 0) ReleaseLocked();
}

void TcpListener::ReleaseLocked() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  closing_ = false;
}

bool SendUdp(const std::string& dottedAddress, uint16_t port, const void* data, size_t len) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return false;
  sockaddr_in a = MakeAddr(InetAddr(dottedAddress), port);
  ssize_t n = sendto(fd, data, len, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  close(fd);
  return n == static_cast<ssize_t>(len);
}

}  // namespace tv::platform
