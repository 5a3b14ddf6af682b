#include "platform/tcpserver.h"

#include <algorithm>

#include "platform/log.h"
#include "platform/tick.h"

namespace tv::platform {
namespace {

// As deep as the host allows: the loop admits (and evicts) quickly, and a
// newcomer whose handshake was dropped would wait a second for its retry.
constexpr int kListenBacklog = SOMAXCONN;
// Pause after a failed accept (no descriptors left), so the loop cannot spin.
constexpr int kAcceptRetryMs = 50;

}  // namespace

class TcpServer::AcceptLoop : public Thread {
 public:
  // Closing the listener wakes the loop blocked in accept.
  explicit AcceptLoop(TcpServer& server) : server_(server) {
    WakeOnStop([this] { server_.listener_.Close(); });
  }
  ~AcceptLoop() override { WaitFor(); }
  bool Pause() { return SleepUnlessTerminated(kAcceptRetryMs); }

 protected:
  int Execute() override {
    try {
      server_.Run(*this);
    } catch (...) {
      LogCaughtException("accept loop");
      return 1;
    }
    return 0;
  }

 private:
  TcpServer& server_;
};

TcpServer::Connection::Connection(const Handler& handler, TcpSocket socket, std::string peer)
    : handler_(handler),
      socket_(std::move(socket)),
      peer_(std::move(peer)),
      lastHeard_(TickCount()) {
  WakeOnStop([this] {
    std::lock_guard<std::mutex> lock(socketMutex_);
    socket_.Shutdown();
  });
}

TcpServer::Connection::~Connection() { WaitFor(); }

void TcpServer::Connection::Heard() { lastHeard_ = TickCount(); }

uint32_t TcpServer::Connection::IdleMs() const { return TickCount() - lastHeard_.load(); }

int TcpServer::Connection::Execute() {
  try {
    handler_(*this);
  } catch (...) {
    LogCaughtException(("connection from " + peer_).c_str());
  }
  std::lock_guard<std::mutex> lock(socketMutex_);
  socket_.Close();
  return 0;
}

TcpServer::TcpServer(Handler handler, size_t maxConnections)
    : handler_(std::move(handler)), maxConnections_(std::max<size_t>(1, maxConnections)) {}

TcpServer::~TcpServer() { Stop(); }

bool TcpServer::Start(uint16_t port, const std::string& bindAddress, Admission admit) {
  if (loop_) return true;
  if (!listener_.Listen(port, kListenBacklog, bindAddress)) return false;
  admit_ = std::move(admit);
  loop_ = std::make_unique<AcceptLoop>(*this);
  loop_->Start();
  return true;
}

void TcpServer::Stop() {
  if (!loop_) return;
  loop_->Terminate();
  loop_->WaitFor();
  loop_.reset();
  // No thread adds connections any more; end and wait for the rest.
  std::vector<std::unique_ptr<Connection>> ending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending.swap(connections_);
  }
  for (auto& c : ending) c->Terminate();
  for (auto& c : ending) c->WaitFor();
}

size_t TcpServer::OpenConnections() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(std::count_if(connections_.begin(), connections_.end(),
                                           [](const auto& c) { return !c->Finished(); }));
}

void TcpServer::Run(AcceptLoop& self) {
  while (!self.Terminated()) {
    std::string peer;
    TcpSocket socket = listener_.Accept(&peer);
    if (socket.Valid()) {
      if (!admit_ || admit_(peer)) Admit(std::move(socket), std::move(peer));
    } else if (listener_.Valid()) {
      self.Pause();
    } else {
      return;
    }
  }
}

void TcpServer::Admit(TcpSocket socket, std::string peer) {
  std::unique_ptr<Connection> evicted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(connections_, [](const std::unique_ptr<Connection>& c) { return c->Finished(); });
    if (connections_.size() >= maxConnections_) evicted = TakeIdlestLocked();
    connections_.push_back(
        std::make_unique<Connection>(handler_, std::move(socket), std::move(peer)));
    connections_.back()->Start();
  }
  // Its thread wakes from the shut-down socket and ends at once.
  if (evicted) {
    evicted->Terminate();
    evicted->WaitFor();
  }
}

// Idle ones before engaged ones, and among each the one idle the longest.
std::unique_ptr<TcpServer::Connection> TcpServer::TakeIdlestLocked() {
  auto idlest =
      std::max_element(connections_.begin(), connections_.end(), [](const auto& a, const auto& b) {
        if (a->Engaged() != b->Engaged()) return a->Engaged();
        return a->IdleMs() < b->IdleMs();
      });
  std::unique_ptr<Connection> taken = std::move(*idlest);
  connections_.erase(idlest);
  return taken;
}

}  // namespace tv::platform
