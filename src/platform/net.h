// IPv4 sockets (Winsock's stand-in): a TCP client/connection socket, a
// listening socket and UDP send-to.  Addresses are dotted-decimal text parsed
// as inet_addr parses it.
#pragma once

#include <mutex>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/status.h"

namespace tv::platform {

constexpr uint32_t kInvalidAddress = 0xFFFFFFFFu;  // INADDR_NONE
// Network-order IPv4 address of `dotted`, or kInvalidAddress.
uint32_t InetAddr(const std::string& dotted);
// Strictly four dotted decimal parts (inet_addr would also take "10.1" or
// hex, which nobody means in a setting); the address in network order.
bool ParseDottedQuad(const std::string& text, uint32_t& networkOrder);
// The dotted IPv4 address of `host`: a dotted address as it stands, else a
// host name looked up with getaddrinfo (the hosts file, DNS).  The reason
// when nothing is found.
Status ResolveHost(const std::string& host, std::string& dotted);
// Byte order swap between network and host (its own inverse).
uint32_t NetworkToHost(uint32_t value);
// Dotted-decimal text of a network-order address.
std::string InetNtoa(uint32_t networkOrder);

class TcpSocket {
 public:
  TcpSocket() = default;
  explicit TcpSocket(int fd) : fd_(fd) {}
  ~TcpSocket() { Close(); }
  TcpSocket(TcpSocket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  TcpSocket& operator=(TcpSocket&& o) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  bool Create();
  bool Valid() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  bool SetSendTimeout(int ms);
  bool SetRecvTimeout(int ms);
  // Gives the socket its local address before Connect (port 0: any).
  bool Bind(const std::string& dottedAddress, uint16_t port = 0);
  bool Connect(const std::string& dottedAddress, uint16_t port);
  // Sends every byte, looping over partial sends; false on error or time-out.
  bool SendAll(const void* data, size_t len);
  // One receive: >0 bytes read, 0 when the peer closed, -1 on error or
  // time-out.
  long Recv(void* buf, size_t len);
  // Exactly one byte; false on error, time-out or close.
  bool RecvByte(uint8_t& b);
  // Reads exactly `len` bytes; false on error, time-out or close.
  bool RecvExact(void* buf, size_t len);
  bool Shutdown();
  void Close();

 private:
  int fd_ = -1;
};

class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener() { Close(); }
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Binds to `bindAddress` (all local addresses by default) with
  // SO_REUSEADDR and listens; port 0 picks a free port.
  bool Listen(uint16_t port, int backlog, const std::string& bindAddress = "0.0.0.0");
  uint16_t Port() const;
  bool Valid() const;
  // Blocks for the next connection; an invalid socket after Close() or on
  // error.  `peer` receives the peer's dotted address when given.
  TcpSocket Accept(std::string* peer = nullptr);
  // Wakes a blocked Accept and releases the socket; safe from another
  // thread.  The descriptor is closed only once no Accept still uses it, so
  // a reused descriptor number can never be accepted on by mistake.
  void Close();

 private:
  void ReleaseLocked();

  mutable std::mutex mutex_;
  int fd_ = -1;
  int acceptors_ = 0;    // threads inside accept()
  bool closing_ = false;
};

// Sends one datagram from a fresh socket; false on any error.
bool SendUdp(const std::string& dottedAddress, uint16_t port, const void* data, size_t len);

}  // namespace tv::platform
