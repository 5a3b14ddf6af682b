// The status server, the status command and the heartbeat of a running
// service.
#include <gtest/gtest.h>

#include "config/statusprotocol.h"
#include "platform/net.h"
#include "platform/tick.h"
#include "platform/udpreceiver.h"
#include "site.h"

namespace tv::test {
namespace {

// Connects to the running service's status port (retrying while it starts).
platform::TcpSocket ConnectStatus() {
  platform::TcpSocket s;
  WaitUntil(
      [&] {
        s.Create();
        return s.Connect("127.0.0.1", kStatusPort);
      },
      10000);
  s.SetRecvTimeout(5000);
  return s;
}

std::vector<uint8_t> AskStatus(platform::TcpSocket& s) {
  EXPECT_TRUE(s.SendAll(&kStatusRequest, 1));
  uint8_t n = 0;
  if (!s.RecvByte(n)) return {};
  std::vector<uint8_t> reply(StatusReplyLength(n));
  reply[0] = n;
  EXPECT_TRUE(s.RecvExact(reply.data() + 1, reply.size() - 1));
  return reply;
}

TEST(StatusEndToEnd, DefaultStoreThenACycleThenItsResult) {
  Site site;
  site.SetString("MonitorIP", "127.0.0.1");
  platform::UdpReceiver monitor;
  ASSERT_TRUE(monitor.Bind("127.0.0.1", 19200));
  sim::Behaviour slow;
  slow.delayMs = 700;
  site.AddScale(91, slow);
  site.Start();
  platform::TcpSocket s = ConnectStatus();
  // The default scale list, nothing delivered yet.
  EXPECT_EQ(AskStatus(s), (std::vector<uint8_t>{1, 91, 3}));
  // A byte other than 1 is ignored; the next 1 is answered.
  uint8_t zero = 0;
  ASSERT_TRUE(s.SendAll(&zero, 1));
  EXPECT_EQ(AskStatus(s), (std::vector<uint8_t>{1, 91, 3}));

  uint8_t beat[8];
  ASSERT_EQ(monitor.Receive(beat, sizeof beat, 5000), 4);
  EXPECT_EQ(std::vector<uint8_t>(beat, beat + 4), (std::vector<uint8_t>{2, 0, 0, 0}));

  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.Scale(91).WaitForFrames(1, 10000));
  EXPECT_EQ(AskStatus(s), (std::vector<uint8_t>{1, 91, 2})) << "every scale is in progress during a cycle";
  bool sawExporting = false;
  for (int i = 0; i < 3 && !sawExporting; ++i)
    sawExporting = monitor.Receive(beat, sizeof beat, 3000) == 4 && beat[0] == 3;
  EXPECT_TRUE(sawExporting) << "the heartbeat says 03 during a cycle";

  ASSERT_TRUE(site.WaitForLog(1));
  ASSERT_TRUE(WaitUntil([&] { return AskStatus(s) == std::vector<uint8_t>{1, 91, 1}; }, 5000));

  std::string out;
  ASSERT_EQ(RunBinary({TovalinkBinary(), "status"}, {"TOVALINK_HOME=" + site.home.Path()}, out), 0) << out;
  EXPECT_NE(out.find("91"), std::string::npos) << out;
  EXPECT_NE(out.find("127.0.0.91"), std::string::npos) << out;
  EXPECT_NE(out.find("delivered"), std::string::npos) << out;
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_NE(RunBinary({TovalinkBinary(), "status"}, {"TOVALINK_HOME=" + site.home.Path()}, out), 0)
      << "nothing answers once the service has stopped";
}

TEST(StatusEndToEnd, LockHoldsExportingBackUntilUnlock) {
  Site site;
  site.AddScale(91);
  site.Start();
  ConnectStatus();  // the service is up
  const std::vector<std::string> home = {"TOVALINK_HOME=" + site.home.Path()};
  std::string out;
  ASSERT_EQ(RunBinary({TovalinkBinary(), "status", "--json"}, home, out), 0) << out;
  EXPECT_NE(out.find("\"exports_locked\": false"), std::string::npos) << out;
  ASSERT_EQ(RunBinary({TovalinkBinary(), "lock"}, {}, out), 0) << out;
  EXPECT_NE(out.find("accepted"), std::string::npos) << out;
  EXPECT_EQ(out.find("already"), std::string::npos) << out;
  ASSERT_EQ(RunBinary({TovalinkBinary(), "lock"}, home, out), 0) << out;
  EXPECT_NE(out.find("accepted (exporting was already locked since "), std::string::npos) << out;
  site.Drop("prices.txt", GoodsFile());
  ASSERT_EQ(RunBinary({TovalinkBinary(), "status", "--json"}, home, out), 0) << out;
  EXPECT_NE(out.find("\"exports_locked\": true"), std::string::npos) << out;
  ASSERT_EQ(RunBinary({TovalinkBinary(), "status"}, home, out), 0) << out;
  EXPECT_NE(out.find("Exporting: locked since "), std::string::npos) << out;
  // Two timer periods pass without a cycle.
  EXPECT_FALSE(WaitUntil([&] { return site.Scale(91).Connections() > 0; }, 2500))
      << "no cycle while exports are locked";
  ASSERT_EQ(RunBinary({TovalinkBinary(), "unlock"}, {}, out), 0) << out;
  ASSERT_TRUE(site.WaitForLog(1));
  EXPECT_EQ(site.Log()[0].code, 0);
  ASSERT_EQ(RunBinary({TovalinkBinary(), "status"}, home, out), 0) << out;
  EXPECT_NE(out.find("Exporting: not locked"), std::string::npos) << out;

  // A lock lives only as long as the service that took it: a service
  // killed while locked starts again unlocked, and says so.
  ASSERT_EQ(RunBinary({TovalinkBinary(), "lock"}, {}, out), 0) << out;
  site.Kill();
  site.Start();
  ConnectStatus();
  ASSERT_EQ(RunBinary({TovalinkBinary(), "status", "--json"}, home, out), 0) << out;
  EXPECT_NE(out.find("\"exports_locked\": false"), std::string::npos) << out;
  ASSERT_EQ(RunBinary({TovalinkBinary(), "lock"}, {}, out), 0) << out;
  ASSERT_TRUE(platform::Env::Default()->FileExists(site.home / "exports.locked"));
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_FALSE(platform::Env::Default()->FileExists(site.home / "exports.locked"))
      << "a stopped service holds no lock";
}

// Another TOVALINK_HOME than the running service's: its states are shown,
// but not beside another store's addresses, and the command says why.
TEST(StatusEndToEnd, StatusOnAnotherStoreThanTheServicesSaysSo) {
  Site site;
  site.AddScale(91);
  site.Start();
  ConnectStatus();
  Site other;  // a store of its own, with addresses, but no service on it
  other.SetString("IPAdress", "127.0.0.");
  std::string out;
  EXPECT_EQ(RunBinary({TovalinkBinary(), "status"}, {"TOVALINK_HOME=" + other.home.Path()}, out), 0) << out;
  EXPECT_NE(out.find("does not run on " + other.home.Path()), std::string::npos) << out;
  EXPECT_EQ(out.find("127.0.0.91"), std::string::npos) << "no address from the other store: " << out;
  ASSERT_EQ(RunBinary({TovalinkBinary(), "status"}, {"TOVALINK_HOME=" + site.home.Path()}, out), 0) << out;
  EXPECT_EQ(out.find("does not run on"), std::string::npos) << out;
  EXPECT_NE(out.find("127.0.0.91"), std::string::npos) << out;
}

TEST(StatusEndToEnd, AFailedScaleGivesExitThreeUntilItsParkedCopyIsDelivered) {
  Site site;
  site.SetScales({2, 6});
  site.AddScale(2);
  sim::Behaviour refusing;
  refusing.deleteAnswer = 0x15;
  site.AddScale(6, refusing);
  site.Start();
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(2));
  const std::vector<std::string> env = {"TOVALINK_HOME=" + site.home.Path()};
  std::string out;
  ASSERT_TRUE(WaitUntil([&] { return RunBinary({TovalinkBinary(), "status", "--json"}, env, out) == 3; }, 10000))
      << out;
  EXPECT_NE(out.find("{\"scale\": 6, \"address\": \"127.0.0.6\", \"state\": \"failed\", \"delivered\": false, "
                     "\"last_code\": 3, \"last_code_meaning\": \"scale refused a frame\""),
            std::string::npos) << out;
  EXPECT_NE(out.find("\"last_success\": null, \"parked_files\": 1, \"oldest_parked_age_s\": "), std::string::npos)
      << out;
  EXPECT_NE(out.find("{\"scale\": 2, \"address\": \"127.0.0.2\", \"state\": \"delivered\", \"delivered\": true, "
                     "\"last_code\": 0, \"last_code_meaning\": \"delivered\""),
            std::string::npos) << out;

  // The scale takes frames again: the next cycle delivers its parked copy.
  site.AddScale(6);
  ASSERT_TRUE(WaitUntil([&] { return site.Unsent().empty(); }, 15000));
  // Exit 0 also while a cycle runs (every scale "in progress"): wait for
  // the delivered state itself.
  ASSERT_TRUE(WaitUntil(
      [&] {
        return RunBinary({TovalinkBinary(), "status"}, env, out) == 0 &&
               out.find("6      127.0.0.6        delivered    ") != std::string::npos;
      },
      10000))
      << out;
  EXPECT_NE(out.find("Files waiting in the export directory: 0"), std::string::npos) << out;
  EXPECT_EQ(site.Stop(), 0);
}

}  // namespace
}  // namespace tv::test
