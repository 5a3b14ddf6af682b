#include "scalesim/sim_state.h"

#include "decode/bytes.h"

namespace tv::sim {

using decode::Hex;

Behaviour ScaleState::Snapshot() const {
  std::lock_guard<std::mutex> lock(mu);
  return behaviour;
}

void ScaleState::Record(Port port, const std::string& json, std::optional<uint8_t> answer,
                             const std::vector<uint8_t>* raw) {
  std::string line = "{\"scale\":" + std::to_string(scaleNumber) + ",\"port\":\"" +
                     (port == Port::Goods ? "goods" : "sm700") + "\",\"answer\":" +
                     (answer ? "\"" + Hex(*answer) + "\"" : std::string("null")) + "," +
                     json.substr(1);
  std::function<void(const std::string&)> out;
  {
    std::lock_guard<std::mutex> lock(mu);
    lines.push_back(line);
    if (raw) (port == Port::Goods ? frames : sm700Frames).push_back(*raw);
    if (!raw && port == Port::Sm700) ++hellos;
    out = sink;
  }
  changed.notify_all();
  if (out) out(line);
}

void ScaleState::CountConnection(Port port) {
  {
    std::lock_guard<std::mutex> lock(mu);
    ++(port == Port::Goods ? connections : sm700Connections);
  }
  changed.notify_all();
}

std::optional<uint8_t> ScaleState::Sm700Answer(const Behaviour& b) {
  if (b.sm700NeverAnswer) return std::nullopt;
  std::lock_guard<std::mutex> lock(mu);
  uint8_t answer = acceptedRecords == b.sm700RefuseRecordNo ? 0x15 : b.recordAnswer;
  if (answer == 0x06 || answer == 0xE2) ++acceptedRecords;
  return answer;
}

uint8_t ScaleState::GoodsRecordAnswer(const Behaviour& b) {
  std::lock_guard<std::mutex> lock(mu);
  const uint8_t answer = acceptedGoodsRecords == b.goodsRefuseRecordNo ? 0x15 : b.goodsAnswer;
  if (answer == 0x06) ++acceptedGoodsRecords;
  return answer;
}

bool ScaleState::Pause(int ms) const { return ms <= 0 ? !stop.IsSet() : !stop.Wait(ms); }

bool ScaleState::Register(platform::TcpSocket* s) {
  std::lock_guard<std::mutex> lock(mu);
  if (stop.IsSet()) return false;
  serving.push_back(s);
  return true;
}

void ScaleState::Unregister(platform::TcpSocket* s) {
  std::lock_guard<std::mutex> lock(mu);
  std::erase(serving, s);
}

void ScaleState::ShutdownServing() {
  std::lock_guard<std::mutex> lock(mu);
  for (platform::TcpSocket* s : serving) s->Shutdown();
}

}  // namespace tv::sim
