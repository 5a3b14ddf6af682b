// One accept loop for the service's TCP servers (parameters and status).
//
// The loop runs on a thread of its own that a stop request interrupts, and
// gives every accepted connection a thread that runs the server's handler.
// At most `maxConnections` are open: a newcomer takes the place of the one
// idle the longest, connections busy with an exchange last of all, so
// clients that connect and say nothing can never lock another client out.
// A peer the admission check refuses is closed before a byte is read.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/net.h"
#include "platform/thread.h"

namespace tv::platform {

class TcpServer {
 public:
  class Connection;
  // Serves one connection until it ends; the socket is closed afterwards.
  using Handler = std::function<void(Connection&)>;
  // False closes the connection from `peer` (dotted address) unread.
  using Admission = std::function<bool(const std::string& peer)>;

  static constexpr size_t kMaxConnections = 32;

  explicit TcpServer(Handler handler, size_t maxConnections = kMaxConnections);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Binds, listens and starts the accept loop; false (errno set) when the
  // address cannot be bound.  `admit` may be empty: everyone is admitted.
  bool Start(uint16_t port, const std::string& bindAddress = "0.0.0.0", Admission admit = {});
  // Stops accepting, ends every connection and waits for their threads.
  // Safe to call more than once.
  void Stop();
  uint16_t Port() const { return listener_.Port(); }
  size_t OpenConnections();

 private:
  class AcceptLoop;

  void Run(AcceptLoop& self);
  void Admit(TcpSocket socket, std::string peer);
  std::unique_ptr<Connection> TakeIdlestLocked();

  const Handler handler_;
  const size_t maxConnections_;
  Admission admit_;
  TcpListener listener_;
  std::unique_ptr<AcceptLoop> loop_;
  std::mutex mutex_;  // guards connections_
  std::vector<std::unique_ptr<Connection>> connections_;
};

// One client connection on a thread of its own.  Stopping it shuts its
// socket down, which wakes a blocked receive; only its own thread closes the
// socket, so the wake-up never touches a reused descriptor.
class TcpServer::Connection : public Thread {
 public:
  Connection(const Handler& handler, TcpSocket socket, std::string peer);
  ~Connection() override;

  TcpSocket& Socket() { return socket_; }
  const std::string& Peer() const { return peer_; }
  // The client was heard from: it is no longer the idlest.
  void Heard();
  // While engaged (inside an exchange) the connection is evicted only when
  // every other one is engaged too.
  void SetEngaged(bool engaged) { engaged_ = engaged; }
  bool Engaged() const { return engaged_.load(); }
  uint32_t IdleMs() const;
  bool Stopping() const { return Terminated(); }

 protected:
  int Execute() override;

 private:
  const Handler& handler_;
  std::mutex socketMutex_;
  TcpSocket socket_;
  const std::string peer_;
  std::atomic<uint32_t> lastHeard_;
  std::atomic<bool> engaged_{false};
};

}  // namespace tv::platform
