#include "cli/networkcheck.h"

#include <cerrno>

#include "cli/scalelist.h"
#include "config/storeaccess.h"
#include "config/storedvalues.h"
#include "platform/tcpconnect.h"
#include "scale/reachability.h"
#include "scale/scaletypes.h"
#include "sm700/UploaderSM700.h"

namespace tv {
namespace {

// The ping's own time-out serves the connects too: a scale that takes
// longer is as good as silent to an operator at the console.
constexpr int kProbeTimeoutMs = TPINGProcess::kTimeoutMs;

// "reachable", "refused" (nothing listens: a wrong type or port, or the
// scale's program is down) or "silent" (nothing answers: off, or a firewall
// that drops).
std::string TryPort(const std::string& address, int port, bool& ok) {
  platform::TcpSocket socket;
  const platform::Status s =
      port > 0 && port <= 65535
          ? platform::ConnectWithTimeout(socket, address, static_cast<uint16_t>(port), kProbeTimeoutMs)
          : platform::Refusal("no port");
  ok = s.ok();
  if (s.ok()) return "reachable";
  if (s.osError() == ECONNREFUSED) return "refused";
  if (s.osError() == 0 && s.ToString().find("timed out") != std::string::npos) return "silent";
  return "unreachable (" + s.ToString() + ")";
}

}  // namespace

bool CheckScaleNetwork(platform::Registry& reg, std::ostream& out) {
  std::string prefix;
  if (platform::RegistryKey product = reg.OpenReadOnly(kProductKey))
    prefix = config::ReadString(product, config::kIPAdress);
  const int portBase = StoredIntegerOrDefault(reg, config::kSocketPort);
  bool allOk = true;
  for (const ScaleEntry& e : LoadScaleList(reg)) {
    const std::string address = prefix + std::to_string(e.number);
    const bool pings = TPINGProcess::Reach(address, kProbeTimeoutMs) == 1;
    bool ok = true;
    out << "scale " << e.number << " " << address << ": ping " << (pings ? "answered" : "silent");
    out << ", goods port " << portBase + e.number << " " << TryPort(address, portBase + e.number, ok);
    allOk = allOk && ok;
    if (e.type == static_cast<uint8_t>(TScaleType::SM700)) {
      const int keyboard = kSm700BasePort + e.number;
      out << ", keyboard port " << keyboard << " " << TryPort(address, keyboard, ok);
      allOk = allOk && ok;
    }
    out << "\n";
  }
  return allOk;
}

}  // namespace tv
