#include "engine/statusserver.h"

#include <string>

#include "config/statusprotocol.h"
#include "config/storeaccess.h"
#include "config/storedvalues.h"
#include "platform/log.h"
#include "platform/oserror.h"

namespace tv {
namespace {

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

TStatusServer::TStatusServer(platform::GuardedRegistry& registry,
                             std::shared_ptr<TEngineFlags> flags, uint16_t port, int idleTimeoutMs)
    : registry_(registry),
      flags_(std::move(flags)),
      port_(port),
      idleTimeoutMs_(idleTimeoutMs),
      server_([this](platform::TcpServer::Connection& c) { Serve(c); }, kMaxConnections) {}

TStatusServer::~TStatusServer() { Deactivate(); }

bool TStatusServer::Activate(const std::string& bindAddress, platform::TcpServer::Admission admit) {
  if (active_) return true;
  if (!server_.Start(port_, bindAddress, std::move(admit))) {
    platform::LogError("status server cannot listen on %s port %u: %s", bindAddress.c_str(),
                       static_cast<unsigned>(port_), platform::LastOsErrorText().c_str());
    return false;
  }
  active_ = true;
  return true;
}

void TStatusServer::Deactivate() {
  server_.Stop();
  active_ = false;
}

void TStatusServer::Serve(platform::TcpServer::Connection& connection) {
  platform::TcpSocket& socket = connection.Socket();
  std::vector<uint8_t> reply;
  uint8_t request = 0;
  // The receive time-out is the idle time-out: silence ends the connection.
  if (!socket.SetRecvTimeout(idleTimeoutMs_)) return;
  while (!connection.Stopping() && socket.RecvByte(request)) {
    connection.Heard();
    if (request != kStatusRequest) continue;
    if (!BuildReply(registry_, flags_.get(), reply)) continue;
    if (!socket.SendAll(reply.data(), reply.size())) return;
  }
}

}  // namespace tv
