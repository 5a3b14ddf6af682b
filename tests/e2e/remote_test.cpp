// Remote access to a running service as an attacker and an auditor see it:
// silent connections delay no lock and no exchange, every exchange leaves a
// notice line naming the peer, and RemoteAllow and the listen addresses
// decide who reaches the two ports.  Clients bind to distinct loopback
// addresses, so the service sees distinct peers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "config/statusprotocol.h"
#include "paramserver/paramtestkit.h"
#include "platform/net.h"
#include "site.h"

namespace tv::test {
namespace {

using namespace std::chrono_literals;

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A connection from `from` to `to`:`port`, or an invalid socket.
platform::TcpSocket ConnectFrom(const std::string& from, uint16_t port,
                                const std::string& to = "127.0.0.1") {
  platform::TcpSocket s;
  if (!s.Create() || !s.SetRecvTimeout(static_cast<int>(Scaled(5000))) || !s.Bind(from) ||
      !s.Connect(to, port))
    return {};
  return s;
}

// The one-byte answer to `command` sent from `from`; -1 when the service
// closed the connection without one.
int CommandFrom(const std::string& from, uint8_t command, const std::string& to = "127.0.0.1") {
  platform::TcpSocket s = ConnectFrom(from, kParamServerPort, to);
  if (!s.Valid() || !Send(s, {command})) return -1;
  return Answer(s);
}

std::vector<uint8_t> StatusFrom(const std::string& from) {
  platform::TcpSocket s = ConnectFrom(from, kStatusPort);
  uint8_t n = 0;
  if (!s.Valid() || !s.SendAll(&kStatusRequest, 1) || !s.RecvByte(n)) return {};
  std::vector<uint8_t> reply(StatusReplyLength(n));
  reply[0] = n;
  if (!s.RecvExact(reply.data() + 1, reply.size() - 1)) return {};
  return reply;
}

// A block that keeps scale 91 and the site's directories.
BlockBuilder SiteBlock(const Site& site) {
  BlockBuilder b;
  b.verInterval = 7;
  b.scales = {91}, b.types = {1}, b.barcodes = {5}, b.useBy = {0}, b.constBc = {0};
  b.strings[0] = site.exportDir;
  b.strings[1] = site.logDir;
  b.strings[2] = "*.*";
  b.strings[3] = "27";
  return b;
}

// ENQ and the block from `from`: the two answers.
std::pair<int, int> ExchangeFrom(const std::string& from, const BlockBuilder& b) {
  platform::TcpSocket s = ConnectFrom(from, kParamServerPort);
  if (!s.Valid() || !Send(s, {kENQ})) return {-1, -1};
  const int open = Answer(s);
  std::vector<uint8_t> message = {kBEL};
  const std::vector<uint8_t> bytes = b.Bytes();
  message.insert(message.end(), bytes.begin(), bytes.end());
  Send(s, message);
  return {open, Answer(s)};
}

long MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

class RemoteEndToEnd : public ::testing::Test {
 protected:
  // Up once the parameter server answers an unlock from `from`.
  void StartSite(const std::string& from = "127.0.0.1", const std::string& to = "127.0.0.1") {
    site.AddScale(91);
    site.Start();
    ASSERT_TRUE(WaitUntil([&] { return CommandFrom(from, kDC1, to) == kACK; }, 10000))
        << site.Output();
  }
  Site site;
};

// A block the store cannot take whole leaves the configuration as it was:
// here its last table is gone, so the write fails after every other value.
TEST_F(RemoteEndToEnd, ABlockTheStoreCannotTakeWholeChangesNothing) {
  StartSite();
  platform::GuardedRegistry store(site.StorePath());
  {
    auto reg = store.Lock();
    ASSERT_TRUE(reg->DeleteKey(kDeviceConstBCKey));
  }
  // The cycles' results may change meanwhile; the configuration may not.
  auto configuration = [&] {
    auto all = Snapshot(store);
    std::erase_if(all,
                  [](const auto& v) { return v.first.find("DeviceResults") != std::string::npos; });
    return all;
  };
  const auto before = configuration();
  BlockBuilder b = SiteBlock(site);
  b.strings[3] = "28";
  EXPECT_EQ(ExchangeFrom("127.0.0.1", b), std::make_pair(int{kACK}, int{kNAK}));
  EXPECT_EQ(configuration(), before);
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_NE(site.output.find("parameter block refused: the store could not be written; before the "
                             "failure: no value changed"),
            std::string::npos)
      << site.output;
}

TEST_F(RemoteEndToEnd, SilentConnectionsDelayNeitherALockNorAnExchange) {
  rlimit files{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
  files.rlim_cur = files.rlim_max;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
  ASSERT_GE(files.rlim_cur, 1300u);
  StartSite();
  std::vector<int> silent = SilentConnections(kParamServerPort, 1200);
  ASSERT_EQ(silent.size(), 1200u);

  std::string out;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunBinary({TovalinkBinary(), "lock"}, {}, out), 0) << out;
  EXPECT_LT(MsSince(start), Scaled(1000)) << "the lock waited behind silent connections";
  EXPECT_NE(out.find("accepted"), std::string::npos) << out;

  // A whole exchange, opened behind yet more silence, is not held up either.
  std::vector<int> more = SilentConnections(kParamServerPort, 50);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(ExchangeFrom("127.0.0.1", SiteBlock(site)), (std::pair<int, int>(kACK, kACK)));
  EXPECT_LT(MsSince(start), Scaled(1000)) << "the exchange waited behind silent connections";
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunBinary({TovalinkBinary(), "unlock"}, {}, out), 0) << out;
  EXPECT_LT(MsSince(start), Scaled(1000));
  for (int fd : silent) close(fd);
  for (int fd : more) close(fd);
  EXPECT_EQ(site.Stop(), 0) << site.output;
}

TEST_F(RemoteEndToEnd, EveryExchangeIsOneNoticeLineNamingThePeer) {
  StartSite();
  EXPECT_EQ(CommandFrom("127.0.0.2", kDLE), kACK);
  EXPECT_EQ(CommandFrom("127.0.0.3", kDC1), kACK);
  EXPECT_EQ(ExchangeFrom("127.0.0.4", SiteBlock(site)), (std::pair<int, int>(kACK, kACK)));
  // Before the last exchange, which is accepted after them: a connection
  // still in the listening backlog at the stop was never the service's.
  for (int i = 0; i < 3; ++i) ConnectFrom("127.0.0.6", kParamServerPort).Close();
  BlockBuilder outside = SiteBlock(site);
  outside.strings[0] = "/etc";
  EXPECT_EQ(ExchangeFrom("127.0.0.5", outside), (std::pair<int, int>(kACK, kNAK)));

  const std::string prefix = "notice: remote configuration from ";
  ASSERT_TRUE(WaitUntil(
      [&] { return site.Output().find(prefix + "127.0.0.5") != std::string::npos; }, 5000))
      << site.Output();
  const std::string out = site.Output();
  EXPECT_EQ(Occurrences(out, prefix + "127.0.0.2: exports locked"), 1u) << out;
  EXPECT_EQ(Occurrences(out, prefix + "127.0.0.3: exports unlocked"), 1u) << out;
  const size_t written =
      out.find(prefix + "127.0.0.4: parameter block written and settings reloaded: ");
  ASSERT_NE(written, std::string::npos) << out;
  const std::string line = out.substr(written, out.find('\n', written) - written);
  EXPECT_NE(line.find("VerInterval 1 -> 7"), std::string::npos) << line;
  EXPECT_NE(line.find("BarPrefix \"22\" -> \"27\""), std::string::npos) << line;
  EXPECT_EQ(line.find("ExportDir"), std::string::npos)
      << "an unchanged value is not listed: " << line;
  EXPECT_NE(out.find(prefix + "127.0.0.5: parameter block refused, nothing written: "),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("127.0.0.6"), std::string::npos)
      << "silent connections are only counted: " << out;
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_NE(
      site.output.find("remote configuration: 3 connections to port 3057 ended without a command"),
      std::string::npos)
      << "the count is summed up at the latest when the service stops: " << site.output;
}

TEST_F(RemoteEndToEnd, RemoteAllowClosesOtherPeersUnreadOnBothPorts) {
  site.SetString("RemoteAllow", "127.0.0.2; 127.0.0.8/29");
  StartSite("127.0.0.2");
  EXPECT_EQ(CommandFrom("127.0.0.3", kDLE), -1) << "closed without an answer";
  EXPECT_FALSE(platform::Env::Default()->FileExists(site.home / "exports.locked"))
      << "and without reading the command";
  EXPECT_EQ(CommandFrom("127.0.0.3", kDLE), -1);
  EXPECT_EQ(StatusFrom("127.0.0.3"), std::vector<uint8_t>{});
  EXPECT_EQ(StatusFrom("127.0.0.9"), (std::vector<uint8_t>{1, 91, 3}));
  EXPECT_EQ(CommandFrom("127.0.0.2", kDLE), kACK);
  EXPECT_TRUE(platform::Env::Default()->FileExists(site.home / "exports.locked"));
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_EQ(Occurrences(site.output, "connection from 127.0.0.3 refused"), 1u)
      << "one line per peer and hour: " << site.output;
  EXPECT_EQ(Occurrences(site.output, "refused"), 1u) << site.output;
}

TEST_F(RemoteEndToEnd, ListenAddressesNarrowOrTurnOffEachPort) {
  site.SetString("ParamServerAddress", "127.0.0.7");
  site.SetString("StatusServerAddress", "off");
  StartSite("127.0.0.1", "127.0.0.7");
  EXPECT_EQ(CommandFrom("127.0.0.1", kDLE, "127.0.0.1"), -1) << "nothing listens on 127.0.0.1:3057";
  EXPECT_FALSE(ConnectFrom("127.0.0.1", kStatusPort).Valid()) << "nothing listens on 3058";
  std::string out;
  EXPECT_EQ(RunBinary({TovalinkBinary(), "lock", "127.0.0.7"}, {}, out), 0) << out;
  EXPECT_EQ(site.Stop(), 0) << site.output;
}

}  // namespace
}  // namespace tv::test
