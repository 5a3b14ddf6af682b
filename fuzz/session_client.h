// One client connection of a session target: connect to a loopback port,
// send the input in one piece, end the sending side and collect everything
// the server answers until it closes the connection.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "fuzzcheck.h"
#include "platform/net.h"

namespace tv::fuzz {

inline std::vector<uint8_t> Session(uint16_t port, const uint8_t* data, size_t size) {
  platform::TcpSocket s;
  // The server may still be coming up on the first run.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    s = platform::TcpSocket();
    FUZZ_CHECK(s.Create() && s.SetRecvTimeout(20000));
    if (s.Connect("127.0.0.1", port)) break;
    FUZZ_CHECK(std::chrono::steady_clock::now() < deadline);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // A server that closes early may refuse the rest; that is its right.
  if (size > 0) s.SendAll(data, size);
  shutdown(s.Fd(), SHUT_WR);
  std::vector<uint8_t> reply;
  uint8_t buf[4096];
  for (;;) {
    const long n = s.Recv(buf, sizeof buf);
    if (n <= 0) break;  // closed, or reset after the server's last answer
    reply.insert(reply.end(), buf, buf + n);
  }
  return reply;
}

}  // namespace tv::fuzz
