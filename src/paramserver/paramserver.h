// The parameter server: the TCP service on port 3057 through which a remote
// configuration tool rewrites the settings and locks or unlocks exporting.
// It has no authentication: ParamServerAddress and RemoteAllow are how a
// shop restricts who reaches it.
//
// Each connection is served on a thread of its own (platform::TcpServer), so
// a client that connects and says nothing delays nobody; configuration
// exchanges still run one at a time, decided by the engine flags' gate.  Each
// command is one byte and each answer one control byte: ENQ opens an
// exchange (after another client's has ended; BS while an export cycle
// runs), BEL followed
// by a parameter block writes the store and makes the engine reload, DLE and
// DC1 lock and unlock exports, anything else closes the connection.  Only an
// open exchange holds exporting back, from the ACK to its ENQ until the block
// is written or the connection ends, and never longer than one read
// time-out.  Every exchange leaves one notice line naming the peer;
// connections that end without a command are only counted, and summed up
// once per summary period.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "paramserver/paramblock.h"
#include "paramserver/protocol.h"
#include "platform/event.h"
#include "platform/registry.h"
#include "platform/tcpserver.h"
#include "platform/thread.h"

namespace tv {

// What the engine hands the server.
struct TParamServerHost {
  platform::GuardedRegistry* registry;   // the engine's store handle; not owned
  std::shared_ptr<TEngineFlags> flags;   // the gate: lock, exchange, CycleRunning
  std::function<bool()> reloadSettings;  // its answer is the answer to a block
  // Host directories a remote ExportDir or LogoDir must lie in when the
  // store holds no AllowedRoots.
  std::vector<std::string> defaultRoots;
  // Asks for the cycle an exchange put off, when the exchange ends.
  std::function<void()> requestCycle;
  // Told when a DLE locks or a DC1 unlocks exporting (may be empty).
  std::function<void(bool locked)> exportsLockChanged;
  // The local address to listen on, and the peers admitted (empty: all).
  std::string bindAddress = "0.0.0.0";
  platform::TcpServer::Admission admit;
  // Connections that ended without a command are summed up in one line
  // per this period at most.
  int quietSummaryMs = 60000;
};

class TParamServer : public platform::Thread {
 public:
  // The creator calls Start().  `timeoutMs` is the send and receive
  // time-out of a connection.
  explicit TParamServer(TParamServerHost host, uint16_t port = kParamServerPort,
                        int timeoutMs = kParamServerTimeoutMs);
  ~TParamServer() override;

  // Terminate() stops listening and ends every connection, an open
  // exchange included.
  bool ClientConnected() const { return openConnections_.load() > 0; }
  // A configuration exchange runs (ENQ answered with ACK, not yet ended).
  bool ExchangeOpen() const { return host_.flags->ExchangeOpen.load(); }

 protected:
  // Listens, then sums up the quiet connections once a period until stopped.
  int Execute() override;

 private:
  class Session;

  void Serve(platform::TcpServer::Connection& connection);
  void SummariseQuiet();

  TParamServerHost host_;
  const uint16_t port_;
  const int timeoutMs_;
  std::mutex lockMutex_;  // a lock change and its mark change together
  std::atomic<int> openConnections_{0};
  std::atomic<unsigned> quiet_{0};  // ended without a command, not yet logged
  platform::Event terminateEvent_{"SMParamServeretTerminate_Event"};
  platform::TcpServer server_;
};

}  // namespace tv
