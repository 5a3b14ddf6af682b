// TStatusServer: the TCP server through which a remote tool asks for the
// delivery state of every scale.  Each connection has a thread of its own
// (the accept loop is platform::TcpServer's);
// a request byte 1 is answered with the scale list and one state per scale,
// read afresh from the store and the engine's CycleRunning flag.  A client
// that sends nothing for the idle time-out is closed, and when every slot
// is taken a newcomer gets the slot of the connection idle the longest, so
// silent clients can never lock a status query out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/statusprotocol.h"
#include "platform/net.h"
#include "platform/registry.h"
#include "platform/tcpserver.h"

namespace tv {

class TStatusServer {
 public:
  // Connections served at once, so a flood of clients cannot use up the
  // service's threads.
  static constexpr size_t kMaxConnections = platform::TcpServer::kMaxConnections;
  static constexpr int kIdleTimeoutMs = 15000;

  // `registry` is the engine's store handle, shared with the engine and the
  // parameter server; it must outlive the server.
  TStatusServer(platform::GuardedRegistry& registry, std::shared_ptr<TEngineFlags> flags,
                uint16_t port = kStatusPort, int idleTimeoutMs = kIdleTimeoutMs);
  ~TStatusServer();
  TStatusServer(const TStatusServer&) = delete;
  TStatusServer& operator=(const TStatusServer&) = delete;

  // Listens on `bindAddress` (every local address by default), admitting
  // the peers `admit` accepts.  False, with one log line, when the port
  // cannot be bound.
  bool Activate(const std::string& bindAddress = "0.0.0.0",
                platform::TcpServer::Admission admit = {});
  // Stops listening, ends every connection (also idle ones) and waits for
  // their threads.  Safe to call more than once.
  void Deactivate();
  // The port listened on (useful with port 0); 0 when not active.
  uint16_t Port() const { return server_.Port(); }

 private:
  void Serve(platform::TcpServer::Connection& connection);

  platform::GuardedRegistry& registry_;
  const std::shared_ptr<TEngineFlags> flags_;
  const uint16_t port_;
  const int idleTimeoutMs_;
  bool active_ = false;
  platform::TcpServer server_;
};

}  // namespace tv
