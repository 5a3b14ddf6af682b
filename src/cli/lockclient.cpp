#include "cli/lockclient.h"

#include <cstdio>
#include <ctime>
#include <optional>
#include <iostream>
#include <string>

#include "cli/options.h"
#include "paramserver/protocol.h"
#include "config/exportlockmark.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/instancelock.h"
#include "platform/net.h"
#include "platform/registry.h"
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
  std::string name = "127.0.0.1";  // as the operator wrote it
  uint16_t port = kParamServerPort;
};

constexpr const char* kUsage = "usage: tovalink lock|unlock [HOST] [--port N]\n";

enum : int { kPort = 256 };

// Answers kLockAccepted to go on (or, after --help, with `help` set) and
// kLockUsage after a problem.
int ParseArgs(int argc, char** argv, LockTarget& target, bool& help, std::ostream& out,
              std::ostream& err) {
  const cli::ParseResult r = cli::ParseOptions(argc, argv, {{"port", true, kPort}},
                                               [&](int, const char* value) -> std::string {
                                                 if (!value || !text::ParsePort(value, target.port))
                                                   return "--port needs a number from 1 to 65535";
                                                 return "";
                                               });
  help = r.outcome == cli::Parsed::kHelp;
  if (help) {
    out << kUsage;
    return kLockAccepted;
  }
  if (!r.problem.empty()) {
    err << "tovalink: " << r.problem << "\n";
    return kLockUsage;
  }
  std::string unexpected = r.unexpected;
  if (unexpected.empty() && r.positional.size() > 1) unexpected = r.positional[1];
  if (!unexpected.empty()) {
    err << "tovalink: unexpected argument: " << unexpected << "\n" << kUsage;
    return kLockUsage;
  }
  if (r.positional.empty()) return kLockAccepted;
  if (const platform::Status found = platform::ResolveHost(r.positional[0], target.host); !found.ok()) {
    err << "tovalink: " << found.ToString() << "\n";
    return kLockUsage;
  }
  target.name = r.positional[0];
  return kLockAccepted;
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

// When the service on this machine, on this store, had locked exporting
// already: its mark beside the store says since when.  "" otherwise.
std::string AlreadyLocked(const LockTarget& target) {
  if (target.host.rfind("127.", 0) != 0 || !platform::InstanceLockHeld(platform::StateHome())) return "";
  const std::optional<std::time_t> since =
      config::ExportLockedSince(*platform::Env::Default(), platform::Registry::DefaultPath());
  if (!since) return "";
  std::tm tm{};
  localtime_r(&*since, &tm);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
  return std::string(" (exporting was already locked since ") + when + ")";
}

}  // namespace

int RunLockCommand(bool lock, int argc, char** argv, std::ostream& out, std::ostream& err) {
  LockTarget target;
  bool help = false;
  if (int code = ParseArgs(argc, argv, target, help, out, err); code != kLockAccepted || help)
    return code;
  const std::string where = target.host + ":" + std::to_string(target.port);

  platform::TcpSocket socket;
  if (!socket.Create() || !socket.SetSendTimeout(kConnectTimeoutMs) ||
      !socket.SetRecvTimeout(kAnswerTimeoutMs) || !socket.Connect(target.host, target.port)) {
    err << "tovalink: no parameter server at " << where << ": " << platform::LastOsErrorText()
        << "; is the service running on " << target.name << "?\n";
    return kLockNoAnswer;
  }
  // Read before asking: once asked, the mark is there either way.
  const std::string already = lock ? AlreadyLocked(target) : "";
  const uint8_t command = lock ? kDLE : kDC1;
  uint8_t answer = 0;
  if (!socket.SendAll(&command, 1) || !socket.RecvByte(answer)) {
    err << "tovalink: the parameter server at " << where << " did not answer; is the service running on "
        << target.name << "?\n";
    return kLockNoAnswer;
  }
  out << Describe(answer) << (answer == kACK ? already : "") << "\n";
  return answer == kACK ? kLockAccepted : kLockNotAccepted;
}

int RunLockCommand(bool lock, int argc, char** argv) {
  return RunLockCommand(lock, argc, argv, std::cout, std::cerr);
}

}  // namespace tv
