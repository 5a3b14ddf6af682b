#include "engine/statusclient.h"

#include <cstdio>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "config/statusprotocol.h"
#include "config/storeaccess.h"
#include "config/storedvalues.h"
#include "platform/fs.h"
#include "platform/net.h"
#include "platform/registry.h"
#include "platform/tcpconnect.h"
#include "text/utils.h"

namespace tv {
namespace {

constexpr int kTimeoutMs = 5000;

struct Options {
  std::string host = "127.0.0.1";
  uint16_t port = kStatusPort;
  bool json = false;
};

struct ScaleStatus {
  uint8_t number = 0;
  uint8_t state = 0;
};

bool ParseArgs(int argc, char** argv, Options& opts, std::ostream& err) {
  bool haveHost = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      opts.json = true;
    } else if (arg == "--port") {
      if (i + 1 >= argc || !text::ParsePort(argv[i + 1], opts.port)) {
        err << "tovalink status: --port needs a number from 1 to 65535\n";
        return false;
      }
      ++i;
    } else if (!haveHost && !arg.empty() && arg[0] != '-') {
      opts.host = arg;
      haveHost = true;
    } else {
      err << "tovalink status: unexpected argument '" << arg << "'\n"
          << "usage: tovalink status [HOST] [--json] [--port N]\n";
      return false;
    }
  }
  return true;
}

bool Query(const Options& opts, std::vector<ScaleStatus>& scales, std::string& error) {
  const std::string where = opts.host + ":" + std::to_string(opts.port);
  platform::TcpSocket socket;
  std::string reason;
  if (!platform::ConnectWithTimeout(socket, opts.host, opts.port, kTimeoutMs, &reason)) {
    error = "cannot connect to " + where + ": " + reason;
    return false;
  }
  socket.SetRecvTimeout(kTimeoutMs);
  socket.SetSendTimeout(kTimeoutMs);
  if (!socket.SendAll(&kStatusRequest, 1)) {
    error = "cannot send the request to " + where;
    return false;
  }
  uint8_t count = 0;
  if (!socket.RecvByte(count)) {
    error = "no reply from " + where;
    return false;
  }
  std::vector<uint8_t> reply(StatusReplyLength(count));
  reply[0] = count;
  if (count > 0 && !socket.RecvExact(reply.data() + 1, reply.size() - 1)) {
    error = "short reply from " + where;
    return false;
  }
  scales.clear();
  for (size_t i = 0; i < count; ++i)
    scales.push_back({reply[StatusNumberOffset(i)], reply[StatusStateOffset(count, i)]});
  return true;
}

// The scales' address prefix from this machine's store: only a hint, and
// only when the service asked is this machine's own.  The store is never
// created here.
std::string LocalAddressPrefix(const std::string& host) {
  const uint32_t addr = platform::InetAddr(host);
  const auto* octets = reinterpret_cast<const unsigned char*>(&addr);
  if (addr == platform::kInvalidAddress || octets[0] != 127) return {};
  const std::string path = platform::Registry::DefaultPath();
  if (!platform::FileExists(path)) return {};
  try {
    platform::Registry reg(path);
    platform::RegistryKey key = reg.OpenReadOnly(kProductKey);
    return key ? config::ReadString(key, config::kIPAdress) : std::string();
  } catch (const platform::RegistryError&) {
    return {};
  }
}

std::string StateName(uint8_t state) {
  switch (state) {
    case urFail: return "failed";
    case urSuccess: return "delivered";
    case urInProgress: return "in progress";
    case urUnknown: return "unknown";
    default: return "code " + std::to_string(state);
  }
}

std::string AddressOf(const std::string& prefix, uint8_t number) {
  return prefix.empty() ? std::string() : prefix + std::to_string(number);
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void PrintTable(const std::vector<ScaleStatus>& scales, const std::string& prefix,
                std::ostream& out) {
  if (scales.empty()) {
    out << "No scales in the scale list.\n";
    return;
  }
  out << std::left << std::setw(7) << "Scale" << std::setw(17) << "Address" << "State\n";
  for (const ScaleStatus& s : scales) {
    const std::string address = AddressOf(prefix, s.number);
    out << std::left << std::setw(7) << unsigned{s.number} << std::setw(17)
        << (address.empty() ? "-" : address) << StateName(s.state) << "\n";
  }
}

void PrintJson(const std::vector<ScaleStatus>& scales, const std::string& prefix,
               std::ostream& out) {
  out << "[";
  for (size_t i = 0; i < scales.size(); ++i) {
    const ScaleStatus& s = scales[i];
    const std::string address = AddressOf(prefix, s.number);
    out << (i ? ",\n " : "\n ") << "{\"scale\": " << unsigned{s.number}
        << ", \"address\": " << (address.empty() ? "null" : JsonString(address))
        << ", \"state\": " << JsonString(StateName(s.state)) << ", \"code\": " << unsigned{s.state}
        << "}";
  }
  out << (scales.empty() ? "]\n" : "\n]\n");
}

}  // namespace

int RunStatusCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Options opts;
  if (!ParseArgs(argc, argv, opts, err)) return 2;
  std::vector<ScaleStatus> scales;
  std::string error;
  if (!Query(opts, scales, error)) {
    err << "tovalink status: " << error << "\n";
    return 1;
  }
  const std::string prefix = LocalAddressPrefix(opts.host);
  if (opts.json)
    PrintJson(scales, prefix, out);
  else
    PrintTable(scales, prefix, out);
  return 0;
}

int RunStatusCommand(int argc, char** argv) {
  return RunStatusCommand(argc, argv, std::cout, std::cerr);
}

}  // namespace tv
