// The shared state of one simulated scale: its behaviour, what it received,
// and the sockets its threads serve.  Internal to the simulator.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/net.h"
#include "platform/thread.h"
#include "scalesim/sim_scale.h"

namespace tv::sim {

enum class Port { Goods, Sm700 };

struct ScaleState {
  std::string address;
  uint16_t goodsPort = 0;
  uint16_t sm700Port = 0;
  int scaleNumber = 0;

  mutable std::mutex mu;
  mutable std::condition_variable changed;
  Behaviour behaviour;
  std::function<void(const std::string&)> sink;
  std::vector<std::string> lines;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<std::vector<uint8_t>> sm700Frames;
  int connections = 0;
  int sm700Connections = 0;
  int hellos = 0;
  int acceptedRecords = 0;
  int acceptedGoodsRecords = 0;
  std::vector<platform::TcpSocket*> serving;

  platform::Event stop{"scalesim stop"};
  platform::TcpListener goodsListener;
  platform::TcpListener sm700Listener;
  std::unique_ptr<platform::Thread> goodsThread;
  std::unique_ptr<platform::Thread> sm700Thread;

  Behaviour Snapshot() const;
  // Adds a received frame with its decoded line; `raw` goes to the frame
  // list of `port` unless it is an opening message.
  void Record(Port port, const std::string& json, std::optional<uint8_t> answer,
              const std::vector<uint8_t>* raw);
  void CountConnection(Port port);
  // The answer to the next SM700 record; counts it when it accepts.
  std::optional<uint8_t> Sm700Answer(const Behaviour& b);
  // The answer to the next goods record; counts it when it accepts.
  uint8_t GoodsRecordAnswer(const Behaviour& b);
  // Waits `ms` unless the scale stops first; false when stopping.
  bool Pause(int ms) const;
  // A connection to serve; false when the scale is stopping.
  bool Register(platform::TcpSocket* s);
  void Unregister(platform::TcpSocket* s);
  void ShutdownServing();
  template <typename Pred>
  bool WaitUntil(int timeoutMs, Pred pred) const {
    std::unique_lock<std::mutex> lock(mu);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
  }
};

// Serve one accepted connection until it closes, misbehaves or the scale
// stops.
void ServeGoods(ScaleState& s, platform::TcpSocket& c);
void ServeSm700(ScaleState& s, platform::TcpSocket& c);

}  // namespace tv::sim
