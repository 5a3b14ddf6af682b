// The parameter server: the TCP service on port 3057 through which a remote
// configuration tool rewrites the settings and locks or unlocks exporting.
//
// One connection is served at a time.  Each command is one byte and each
// answer one control byte: ENQ opens an exchange (BS while an export cycle
// runs), BEL followed by a parameter block writes the store and makes the
// engine reload, DLE and DC1 lock and unlock exports, anything else closes
// the connection.  Only an open exchange holds exporting back, from the ACK
// to its ENQ until the block is written or the connection ends, and never
// longer than one read time-out: a connected client that says nothing, or
// floods the port, delays no cycle.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "paramserver/acceptthread.h"
#include "paramserver/paramblock.h"
#include "paramserver/protocol.h"
#include "platform/event.h"
#include "platform/net.h"
#include "platform/registry.h"
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
};

class TParamServer : public platform::Thread {
 public:
  // The creator calls Start().  `timeoutMs` is the send and receive
  // time-out of a connection.
  explicit TParamServer(TParamServerHost host, uint16_t port = kParamServerPort,
                        int timeoutMs = kParamServerTimeoutMs);
  ~TParamServer() override;

  // Terminate() wakes a server waiting for a client and asks it to end.  A
  // connection being served ends first, on the client's EOT or its read
  // time-out.
  bool ClientConnected() const { return clientConnected_.load(); }
  // A configuration exchange runs (ENQ answered with ACK, not yet ended).
  bool ExchangeOpen() const { return host_.flags->ExchangeOpen.load(); }

 protected:
  int Execute() override;

 private:
  enum class TConnectionState : uint8_t { Idle, Opened, Written, Closing, Closed };

  bool WaitForClient(platform::TcpSocket& client);
  void ReleaseAcceptThread();
  void Serve(platform::TcpSocket client);
  void Dispatch(uint8_t command);
  void OnEnq();
  void OnBel();
  void OnDle();
  void OnDc1();
  void ReportLockChange(bool locked);

  int ReadBudgetMs() const;
  void CloseExchange();
  bool ReceiveBlock();
  bool DecodeBlock();
  bool CheckBlock();
  bool WriteSettings();
  void SendAnswer(uint8_t answer);
  void CloseClient();

  TParamServerHost host_;
  const uint16_t port_;
  const int timeoutMs_;
  platform::TcpListener listener_;
  platform::TcpSocket client_;
  std::atomic<bool> clientConnected_{false};
  TConnectionState connectionState_ = TConnectionState::Idle;
  bool exchangeOpen_ = false;
  uint32_t exchangeStart_ = 0;  // tick of the ENQ that opened it
  std::array<uint8_t, kIoBufferSize> buffer_{};
  std::vector<uint8_t> receivedBlock_;
  TParamBlock pending_;

  platform::Event acceptEvent_{"SMSocketAccept_Event"};
  platform::Event invalidEvent_{"SMINVALIDSOCKET_Event"};
  platform::Event terminateEvent_{"SMParamServeretTerminate_Event"};
  std::unique_ptr<TServerAcceptThread> acceptThread_;
};

}  // namespace tv
