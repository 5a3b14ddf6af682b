#include "scalesim/sim_scale.h"

#include "scalesim/sim_state.h"

namespace tv::sim {
namespace {

constexpr int kBacklog = 16;

// Accepts on one port and serves its connections one after the other, as a
// scale does.
class AcceptThread : public platform::Thread {
 public:
  AcceptThread(ScaleState& s, Port port) : s_(s), port_(port) {}
  ~AcceptThread() override { WaitFor(); }

 protected:
  int Execute() override {
    platform::TcpListener& listener =
        port_ == Port::Goods ? s_.goodsListener : s_.sm700Listener;
    while (!s_.stop.IsSet()) {
      platform::TcpSocket c = listener.Accept();
      if (!c.Valid()) {
        // Accept fails after Close(); otherwise back off briefly and retry.
        s_.stop.Wait(10);
        continue;
      }
      s_.CountConnection(port_);
      if (!s_.Register(&c)) break;
      if (port_ == Port::Goods) {
        ServeGoods(s_, c);
      } else {
        ServeSm700(s_, c);
      }
      s_.Unregister(&c);
    }
    return 0;
  }

 private:
  ScaleState& s_;
  Port port_;
};

int LastPart(const std::string& dotted) {
  size_t dot = dotted.rfind('.');
  return dot == std::string::npos ? 0 : std::atoi(dotted.c_str() + dot + 1);
}

}  // namespace

SimScale::SimScale(std::string address, uint16_t goodsPort, uint16_t sm700Port, Behaviour b)
    : state_(std::make_unique<ScaleState>()) {
  state_->address = std::move(address);
  state_->goodsPort = goodsPort;
  state_->sm700Port = sm700Port;
  state_->scaleNumber = LastPart(state_->address);
  state_->behaviour = b;
}

SimScale::~SimScale() { Stop(); }

bool SimScale::Start() {
  ScaleState& s = *state_;
  if (s.goodsThread || s.sm700Thread) return false;
  // Loopback only: a simulator must never answer for a real scale's address.
  if (s.address.rfind("127.", 0) != 0 ||
      platform::InetAddr(s.address) == platform::kInvalidAddress) {
    return false;
  }
  if ((s.goodsPort && !s.goodsListener.Listen(s.goodsPort, kBacklog, s.address)) ||
      (s.sm700Port && !s.sm700Listener.Listen(s.sm700Port, kBacklog, s.address))) {
    s.goodsListener.Close();
    s.sm700Listener.Close();
    return false;
  }
  s.stop.Reset();
  if (s.goodsPort) s.goodsThread = std::make_unique<AcceptThread>(s, Port::Goods);
  if (s.sm700Port) s.sm700Thread = std::make_unique<AcceptThread>(s, Port::Sm700);
  if (s.goodsThread) s.goodsThread->Start();
  if (s.sm700Thread) s.sm700Thread->Start();
  return true;
}

void SimScale::Stop() {
  ScaleState& s = *state_;
  s.stop.Set();
  s.goodsListener.Close();
  s.sm700Listener.Close();
  s.ShutdownServing();
  s.goodsThread.reset();
  s.sm700Thread.reset();
}

void SimScale::SetBehaviour(const Behaviour& b) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->behaviour = b;
}

void SimScale::SetLineSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->sink = std::move(sink);
}

std::vector<std::string> SimScale::JsonLines() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->lines;
}

std::vector<std::vector<uint8_t>> SimScale::Frames() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->frames;
}

std::vector<std::vector<uint8_t>> SimScale::Sm700Frames() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->sm700Frames;
}

int SimScale::Connections() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->connections;
}

int SimScale::Sm700Connections() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->sm700Connections;
}

int SimScale::Sm700Hellos() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->hellos;
}

bool SimScale::WaitForFrames(size_t n, int timeoutMs) const {
  return state_->WaitUntil(timeoutMs, [&] { return state_->frames.size() >= n; });
}

bool SimScale::WaitForSm700Frames(size_t n, int timeoutMs) const {
  return state_->WaitUntil(timeoutMs, [&] { return state_->sm700Frames.size() >= n; });
}

bool SimScale::WaitForLines(size_t n, int timeoutMs) const {
  return state_->WaitUntil(timeoutMs, [&] { return state_->lines.size() >= n; });
}

bool SimScale::WaitForConnections(int n, int timeoutMs) const {
  return state_->WaitUntil(timeoutMs, [&] { return state_->connections >= n; });
}

const std::string& SimScale::Address() const { return state_->address; }

}  // namespace tv::sim
