// A bound UDP socket that receives datagrams, for the side that listens to
// the service's status reports (monitoring tools and tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tv::platform {

class UdpReceiver {
 public:
  UdpReceiver() = default;
  ~UdpReceiver() { Close(); }
  UdpReceiver(const UdpReceiver&) = delete;
  UdpReceiver& operator=(const UdpReceiver&) = delete;

  // Binds to dotted:port; port 0 picks a free port.
  bool Bind(const std::string& dottedAddress, uint16_t port);
  uint16_t Port() const;
  // Waits up to `timeoutMs` for one datagram: its full length (only the
  // first `len` bytes are stored), or -1 on time-out or error.  `sender` gets the source address.
  long Receive(void* buf, size_t len, int timeoutMs, std::string* sender = nullptr);
  void Close();

 private:
  int fd_ = -1;
};

}  // namespace tv::platform
