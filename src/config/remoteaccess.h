// Who may reach the service's two TCP servers: the address each listens on
// (ParamServerAddress, StatusServerAddress) and the peers both admit
// (RemoteAllow).  Parsed from the stored text once at start; the servers ask
// for every accepted connection, before a byte is read.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/status.h"

namespace tv::config {

// Where one server listens.
struct TListenAddress {
  bool off = false;                 // "off": the server does not listen at all
  std::string address = "0.0.0.0";  // "" in the store: every local address
  bool Everywhere() const { return !off && address == "0.0.0.0"; }
};

// Reads ParamServerAddress or StatusServerAddress: "" (or absent), "off", or
// one dotted IPv4 address.  Anything else fails with the reason.
platform::Result<TListenAddress> ParseListenAddress(const std::string& text);

// RemoteAllow: addresses and CIDR blocks separated by ";", such as
// "192.168.0.10;10.1.0.0/16".  Empty allows every peer.
class TRemoteAllow {
 public:
  // Fails, naming the entry at fault, when an entry is neither.
  static platform::Result<TRemoteAllow> Parse(const std::string& text);
  bool Everyone() const { return blocks_.empty(); }
  // `peer` is a dotted address; one that does not parse is refused.
  bool Allows(const std::string& peer) const;
  // The entries as given, normalised ("10.1.0.0/16; 192.168.0.10/32").
  std::string Describe() const;

 private:
  struct Block {
    uint32_t network;  // host order
    uint32_t mask;
    int prefix;
  };
  std::vector<Block> blocks_;
};

// Logs a refused peer once per hour at most, so a peer that keeps trying
// fills no log.  `tick` gives milliseconds (platform::TickCount by default).
class TRefusalLog {
 public:
  static constexpr uint32_t kQuietMs = 60 * 60 * 1000;
  explicit TRefusalLog(std::function<uint32_t()> tick = {});
  // True when a line was written for this refusal.
  bool Refused(const std::string& peer, const char* server);

 private:
  std::function<uint32_t()> tick_;
  std::mutex mutex_;
  std::map<std::string, uint32_t> lastLogged_;
};

}  // namespace tv::config
