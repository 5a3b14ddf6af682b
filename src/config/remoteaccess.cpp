#include "config/remoteaccess.h"

#include <sstream>

#include "platform/log.h"
#include "platform/net.h"
#include "platform/tick.h"

namespace tv::config {
namespace {

bool ParseDotted(const std::string& text, uint32_t& hostOrder) {
  uint32_t networkOrder = 0;
  if (!platform::ParseDottedQuad(text, networkOrder)) return false;
  hostOrder = platform::NetworkToHost(networkOrder);
  return true;
}

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

uint32_t MaskOf(int prefix) { return prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix); }

std::string DottedOf(uint32_t hostOrder) {
  return platform::InetNtoa(platform::NetworkToHost(hostOrder));
}

// Past this many peers, those last logged over an hour ago are forgotten,
// so a scan of many addresses cannot grow the map for ever.
constexpr size_t kPruneAbove = 4096;

}  // namespace

platform::Result<TListenAddress> ParseListenAddress(const std::string& text) {
  const std::string t = Trimmed(text);
  TListenAddress out;
  if (t.empty()) return out;
  if (t == "off") {
    out.off = true;
    return out;
  }
  uint32_t unused = 0;
  if (!ParseDotted(t, unused))
    return platform::Refusal("\"" + t + "\" is neither an IPv4 address nor off");
  out.address = t;
  return out;
}

platform::Result<TRemoteAllow> TRemoteAllow::Parse(const std::string& text) {
  TRemoteAllow out;
  std::stringstream in(text);
  for (std::string entry; std::getline(in, entry, ';');) {
    entry = Trimmed(entry);
    if (entry.empty()) continue;
    const size_t slash = entry.find('/');
    Block b{0, 0xFFFFFFFFu, 32};
    bool ok = ParseDotted(entry.substr(0, slash), b.network);
    if (ok && slash != std::string::npos) {
      const std::string bits = entry.substr(slash + 1);
      ok = !bits.empty() && bits.size() <= 2 &&
           bits.find_first_not_of("0123456789") == std::string::npos && std::stoi(bits) <= 32;
      if (ok) b.prefix = std::stoi(bits);
      b.mask = MaskOf(b.prefix);
    }
    if (!ok)
      return platform::Refusal(
          "\"" + entry + "\" is neither an IPv4 address nor a CIDR block such as 192.168.0.0/24");
    b.network &= b.mask;
    out.blocks_.push_back(b);
  }
  return out;
}

bool TRemoteAllow::Allows(const std::string& peer) const {
  if (blocks_.empty()) return true;
  uint32_t address = 0;
  if (!ParseDotted(peer, address)) return false;
  for (const Block& b : blocks_)
    if ((address & b.mask) == b.network) return true;
  return false;
}

std::string TRemoteAllow::Describe() const {
  std::string out;
  for (const Block& b : blocks_) {
    if (!out.empty()) out += "; ";
    out += DottedOf(b.network);
    if (b.prefix != 32) out += "/" + std::to_string(b.prefix);
  }
  return out;
}

TRefusalLog::TRefusalLog(std::function<uint32_t()> tick)
    : tick_(tick ? std::move(tick) : std::function<uint32_t()>(platform::TickCount)) {}

bool TRefusalLog::Refused(const std::string& peer, const char* server) {
  const uint32_t now = tick_();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = lastLogged_.find(peer);
    if (it != lastLogged_.end() && now - it->second < kQuietMs) return false;
    if (lastLogged_.size() > kPruneAbove)
      std::erase_if(lastLogged_, [now](const auto& e) { return now - e.second >= kQuietMs; });
    lastLogged_[peer] = now;
  }
  platform::LogNotice(
      "%s: connection from %s refused: not in RemoteAllow (logged once an hour per address)",
      server, peer.c_str());
  return true;
}

}  // namespace tv::config
