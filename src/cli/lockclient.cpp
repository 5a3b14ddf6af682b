#include "cli/lockclient.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "paramserver/protocol.h"
#include "platform/net.h"
#include "platform/oserror.h"
#include "text/utils.h"

namespace tv {
namespace {

// Connecting also obeys the send time-out; the answer may wait behind a
// configuration client the server is still serving.
constexpr int kConnectTimeoutMs = 5000;
constexpr int kAnswerTimeoutMs = 2 * kParamServerTimeoutMs;

struct LockTarget {
  std::string host = "127.0.0.1";
  uint16_t port = kParamServerPort;
};

bool ParseArgs(int argc, char** argv, LockTarget& target, std::ostream& err) {
  bool hostSeen = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--port") {
      if (i + 1 >= argc || !text::ParsePort(argv[i + 1], target.port)) {
        err << "tovalink: --port needs a number from 1 to 65535\n";
        return false;
      }
      ++i;
    } else if (!hostSeen && !arg.starts_with("-")) {
      if (platform::InetAddr(std::string(arg)) == platform::kInvalidAddress) {
        err << "tovalink: not an IPv4 address: " << arg << "\n";
        return false;
      }
      target.host = arg;
      hostSeen = true;
    } else {
      err << "tovalink: unexpected argument: " << arg << "\n"
          << "usage: tovalink lock|unlock [HOST] [--port N]\n";
      return false;
    }
  }
  return true;
}

std::string Describe(uint8_t answer) {
  switch (answer) {
    case kACK: return "accepted";
    case kBS: return "busy: an export cycle is running";
    case kNAK: return "refused";
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "unexpected answer 0x%02X", answer);
      return text;
    }
  }
}

}  // namespace

int RunLockCommand(bool lock, int argc, char** argv, std::ostream& out, std::ostream& err) {
  LockTarget target;
  if (!ParseArgs(argc, argv, target, err)) return kLockUsage;
  const std::string where = target.host + ":" + std::to_string(target.port);

  platform::TcpSocket socket;
  if (!socket.Create() || !socket.SetSendTimeout(kConnectTimeoutMs) ||
      !socket.SetRecvTimeout(kAnswerTimeoutMs) || !socket.Connect(target.host, target.port)) {
    err << "tovalink: no parameter server at " << where << ": " << platform::LastOsErrorText()
        << "\n";
    return kLockNoAnswer;
  }
  const uint8_t command = lock ? kDLE : kDC1;
  uint8_t answer = 0;
  if (!socket.SendAll(&command, 1) || !socket.RecvByte(answer)) {
    err << "tovalink: the parameter server at " << where << " did not answer\n";
    return kLockNoAnswer;
  }
  out << Describe(answer) << "\n";
  return answer == kACK ? kLockAccepted : kLockNotAccepted;
}

int RunLockCommand(bool lock, int argc, char** argv) {
  return RunLockCommand(lock, argc, argv, std::cout, std::cerr);
}

}  // namespace tv
