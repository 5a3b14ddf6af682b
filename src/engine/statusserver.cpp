#include "engine/statusserver.h"

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "config/statusprotocol.h"
#include "config/storeaccess.h"
#include "config/storedvalues.h"
#include "platform/log.h"
#include "platform/oserror.h"
#include "platform/thread.h"
#include "platform/tick.h"

namespace tv {
namespace {

// As deep as the host allows: the accept loop admits (and evicts) quickly,
// and a newcomer whose handshake was dropped would wait a second or more
// for its retry.
constexpr int kListenBacklog = SOMAXCONN;
constexpr uint32_t kAcceptRetryMs = 50;

namespace cfg = config;

// Scale numbers of the Devices table: low byte of TotalNumber entries.
bool ReadScaleNumbers(platform::Registry& reg, std::vector<uint8_t>& numbers) {
  platform::RegistryKey key = reg.OpenReadOnly(kDevicesKey);
  if (!key) return false;
  const auto count = static_cast<uint8_t>(cfg::ReadInteger(key, cfg::kDevicesCount));
  for (uint32_t i = 1; i <= count; ++i)
    numbers.push_back(static_cast<uint8_t>(cfg::ReadInteger(key, cfg::kDevicesEntry, i)));
  return true;
}

bool ReadStates(platform::Registry& reg, const std::vector<uint8_t>& numbers, bool cycleRunning,
                std::vector<uint8_t>& states) {
  platform::RegistryKey key = reg.OpenReadOnly(kDeviceResultsKey);
  if (!key) return false;
  for (uint8_t number : numbers) {
    uint8_t state = cycleRunning ? urInProgress : urUnknown;
    const std::string name = cfg::NameFor(cfg::kDeviceResult, number);
    if (!cycleRunning && key.ValueExists(name)) state = static_cast<uint8_t>(key.ReadInteger(name));
    states.push_back(state);
  }
  return true;
}

// The 1 + 2N byte reply; false when there is to be no reply at all.
bool BuildReply(platform::GuardedRegistry& registry, const TEngineFlags* flags,
                std::vector<uint8_t>& reply) {
  std::vector<uint8_t> numbers;
  std::vector<uint8_t> states;
  try {
    auto reg = registry.Lock();
    if (!ReadScaleNumbers(*reg, numbers)) return false;
    const bool cycleRunning = flags && flags->CycleRunning.load();
    if (!ReadStates(*reg, numbers, cycleRunning, states)) return false;
  } catch (const platform::RegistryError&) {
    // A missing or mistyped entry: treated like an unreadable table.
    return false;
  }
  reply.clear();
  reply.push_back(static_cast<uint8_t>(numbers.size()));
  reply.insert(reply.end(), numbers.begin(), numbers.end());
  reply.insert(reply.end(), states.begin(), states.end());
  return true;
}

}  // namespace

class TStatusServer::AcceptThread : public platform::Thread {
 public:
  // Closing the listener wakes the loop blocked in accept.
  explicit AcceptThread(TStatusServer& server) : server_(server) {
    WakeOnStop([this] { server_.listener_.Close(); });
  }
  ~AcceptThread() override { WaitFor(); }

 protected:
  int Execute() override {
    server_.AcceptLoop(*this);
    return 0;
  }

 private:
  TStatusServer& server_;
};

// One client connection; Terminate() shuts its socket down to wake a
// blocked receive.  Only its own thread closes the socket, and only under
// socketMutex_, so the wake-up never touches a descriptor that has been
// closed and perhaps reused.
class TStatusServer::Connection : public platform::Thread {
 public:
  Connection(TStatusServer& server, platform::TcpSocket socket)
      : server_(server), socket_(std::move(socket)), lastHeard_(platform::TickCount()) {
    WakeOnStop([this] {
      std::lock_guard<std::mutex> lock(socketMutex_);
      socket_.Shutdown();
    });
  }
  ~Connection() override { WaitFor(); }

  // Milliseconds since the client last sent a byte (or connected).
  uint32_t IdleMs() const { return platform::TickCount() - lastHeard_.load(); }

 protected:
  int Execute() override {
    Serve();
    std::lock_guard<std::mutex> lock(socketMutex_);
    socket_.Close();
    return 0;
  }

 private:
  void Serve() {
    std::vector<uint8_t> reply;
    uint8_t request = 0;
    // The receive time-out is the idle time-out: silence ends the connection.
    if (!socket_.SetRecvTimeout(server_.idleTimeoutMs_)) return;
    while (!Terminated() && socket_.RecvByte(request)) {
      lastHeard_ = platform::TickCount();
      if (request != kStatusRequest) continue;
      if (!BuildReply(server_.registry_, server_.flags_.get(), reply)) continue;
      if (!socket_.SendAll(reply.data(), reply.size())) return;
    }
  }

  TStatusServer& server_;
  std::mutex socketMutex_;
  platform::TcpSocket socket_;
  std::atomic<uint32_t> lastHeard_;
};

TStatusServer::TStatusServer(platform::GuardedRegistry& registry,
                             std::shared_ptr<TEngineFlags> flags, uint16_t port, int idleTimeoutMs)
    : registry_(registry), flags_(std::move(flags)), port_(port), idleTimeoutMs_(idleTimeoutMs) {}

TStatusServer::~TStatusServer() { Deactivate(); }

bool TStatusServer::Activate() {
  if (acceptor_) return true;
  if (!listener_.Listen(port_, kListenBacklog)) {
    platform::LogError("status server cannot listen on TCP port %u: %s", static_cast<unsigned>(port_),
                       platform::LastOsErrorText().c_str());
    return false;
  }
  acceptor_ = std::make_unique<AcceptThread>(*this);
  acceptor_->Start();
  return true;
}

void TStatusServer::Deactivate() {
  if (!acceptor_) return;
  acceptor_->Terminate();
  acceptor_->WaitFor();
  acceptor_.reset();
  // No thread adds connections any more; end and wait for the rest.
  std::vector<std::unique_ptr<Connection>> ending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending.swap(connections_);
  }
  for (auto& c : ending) c->Terminate();
  for (auto& c : ending) c->WaitFor();
}

void TStatusServer::AcceptLoop(const platform::Thread& self) {
  while (!self.Terminated()) {
    platform::TcpSocket socket = listener_.Accept();
    if (socket.Valid()) {
      Admit(std::move(socket));
    } else if (listener_.Valid()) {
      // Out of descriptors or an aborted handshake: do not spin.
      platform::SleepMs(kAcceptRetryMs);
    } else {
      return;
    }
  }
}

void TStatusServer::Admit(platform::TcpSocket socket) {
  std::unique_ptr<Connection> evicted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ReapFinishedLocked();
    if (connections_.size() >= kMaxConnections) evicted = TakeIdlestLocked();
    connections_.push_back(std::make_unique<Connection>(*this, std::move(socket)));
    connections_.back()->Start();
  }
  // Its thread wakes from the shut-down socket and ends at once.
  if (evicted) {
    evicted->Terminate();
    evicted->WaitFor();
  }
}

std::unique_ptr<TStatusServer::Connection> TStatusServer::TakeIdlestLocked() {
  auto idlest = std::max_element(connections_.begin(), connections_.end(),
                                 [](const auto& a, const auto& b) { return a->IdleMs() < b->IdleMs(); });
  std::unique_ptr<Connection> taken = std::move(*idlest);
  connections_.erase(idlest);
  return taken;
}

void TStatusServer::ReapFinishedLocked() {
  std::erase_if(connections_, [](const std::unique_ptr<Connection>& c) { return c->Finished(); });
}

}  // namespace tv
