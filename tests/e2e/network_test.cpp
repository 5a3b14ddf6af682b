// What the network can do to a running service: remote configuration stays
// inside the directories the operator allowed, connections to the parameter
// server hold exporting back only for an exchange, and silent or flooding
// clients lock no status query out.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "config/statusprotocol.h"
#include "paramserver/paramtestkit.h"
#include "platform/net.h"
#include "platform/tick.h"
#include "site.h"

namespace tv::test {
namespace {

using namespace std::chrono_literals;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A block that keeps the site's scale 91 and its fixed layout, and sets the
// two directories.
BlockBuilder SiteBlock(const std::string& exportDir, const std::string& logoDir) {
  BlockBuilder b;
  b.verInterval = 1;
  b.importType = 0;
  b.scales = {91}, b.types = {1}, b.barcodes = {5}, b.useBy = {0}, b.constBc = {0};
  b.strings[0] = exportDir;
  b.strings[1] = logoDir;
  b.strings[2] = "*.*";
  return b;
}

// A connection whose ENQ was answered with ACK; a busy answer (a cycle
// still ending) is tried again for up to 10 s.
platform::TcpSocket OpenExchange() {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  for (;;) {
    platform::TcpSocket s = ConnectWithin(kParamServerPort, 10s);
    if (!s.Valid() || !Send(s, {kENQ})) return {};
    const int open = Answer(s);
    if (open == kACK) return s;
    if (open != kBS || std::chrono::steady_clock::now() > deadline) return {};
    std::this_thread::sleep_for(10ms);
  }
}

// BEL and the block on an open exchange, then EOT: the answer to the block.
int SendBlockOn(platform::TcpSocket& s, const BlockBuilder& b) {
  std::vector<uint8_t> message = {kBEL};
  const std::vector<uint8_t> bytes = b.Bytes();
  message.insert(message.end(), bytes.begin(), bytes.end());
  Send(s, message);
  const int answer = Answer(s);
  Send(s, {kEOT});
  return answer;
}

// One exchange on a new connection, waiting out the end of a cycle: the
// answer to the block.
int WriteBlock(const BlockBuilder& b) {
  platform::TcpSocket s = OpenExchange();
  return s.Valid() ? SendBlockOn(s, b) : -1;
}

std::string StoredString(const Site& site, const char* name) {
  platform::Registry reg(site.StorePath());
  return reg.OpenReadOnly(kProductKey).ReadString(name);
}

// A status reply on a new connection within `limitMs`; empty when none.
std::vector<uint8_t> QueryStatus(int limitMs) {
  platform::TcpSocket s;
  uint8_t n = 0;
  if (!s.Create() || !s.SetRecvTimeout(limitMs) || !s.Connect("127.0.0.1", kStatusPort) ||
      !s.SendAll(&kStatusRequest, 1) || !s.RecvByte(n))
    return {};
  std::vector<uint8_t> reply(StatusReplyLength(n));
  reply[0] = n;
  if (!s.RecvExact(reply.data() + 1, reply.size() - 1)) return {};
  return reply;
}

// Milliseconds from now until the site logs its `n`th line; -1 after 60 s.
long MsUntilLog(const Site& site, size_t n) {
  const auto start = std::chrono::steady_clock::now();
  if (!site.WaitForLog(n, 60000)) return -1;
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

class NetworkEndToEnd : public ::testing::Test {
 protected:
  void StartSite() {
    site.AddScale(91);
    site.Start();
    ASSERT_TRUE(WaitUntil([] { return !QueryStatus(2000).empty(); }, 10000));
  }
  Site site;
};

TEST_F(NetworkEndToEnd, RemoteDirectoriesStayInsideTheAllowedRootsAndStringsCarryNoControlCharacters) {
  StartSite();
  TempDir outside;
  WriteFile(outside / "sentinel.txt", GoodsFile(77));
  std::filesystem::create_directory_symlink(outside.Path(), site.home / "link");
  WriteFile(site.home / "afile", "not a directory");
  const std::string outsideName = std::filesystem::path(outside.Path()).filename().string();
  const std::string exportDir = StoredString(site, "ExportDir");
  const std::string logDir = StoredString(site, "LogoDir");

  struct Case {
    const char* what;
    std::string exportDir, logoDir, mask;
  };
  const Case refused[] = {
      {"an export directory elsewhere", outside.Path(), logDir, "*.*"},
      {"up and out through the drive mapping", "C:\\..\\..\\" + outsideName, logDir, "*.*"},
      {"a link to elsewhere", site.home / "link", logDir, "*.*"},
      {"a log directory elsewhere", exportDir, outside.Path(), "*.*"},
      {"a log directory that is a file", exportDir, site.home / "afile", "*.*"},
      {"a NUL that cuts the path short", exportDir, logDir + std::string(1, '\0') + "x", "*.*"},
      {"a line break in the mask", exportDir, logDir, "*.txt\n"},
      {"a network share", exportDir, "\\\\server\\share\\logs", "*.*"},
  };
  for (const Case& c : refused) {
    BlockBuilder b = SiteBlock(c.exportDir, c.logoDir);
    b.strings[2] = c.mask;
    b.barcodes = {9};  // would show in the store if anything were written
    EXPECT_EQ(WriteBlock(b), kNAK) << c.what;
  }
  EXPECT_EQ(StoredString(site, "ExportDir"), exportDir);
  EXPECT_EQ(StoredString(site, "LogoDir"), logDir);
  {
    platform::Registry reg(site.StorePath());
    EXPECT_EQ(reg.OpenReadOnly(kDeviceBarcodeTypesKey).ReadInteger("Scale1"), 5) << "nothing written";
  }
  // A cycle runs on the site's own directory and leaves the outside alone.
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(1));
  EXPECT_TRUE(platform::Env::Default()->FileExists(outside / "sentinel.txt"));
  EXPECT_FALSE(std::filesystem::exists(outside / "Unsent"));
  EXPECT_FALSE(Has(ReadFile(outside / "sentinel.txt"), "prices"));

  // Inside the roots a block is written; the operator widens them locally.
  EXPECT_EQ(WriteBlock(SiteBlock(site.home / "export-b", logDir)), kACK);
  EXPECT_EQ(StoredString(site, "ExportDir"), site.home / "export-b");
  EXPECT_EQ(WriteBlock(SiteBlock(outside / "in", logDir)), kNAK);
  std::string out;
  ASSERT_EQ(RunBinary({TovalinkBinary(), "reg", "add", "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+", "/v",
                       "AllowedRoots", "/t", "REG_SZ", "/d", site.home.Path() + ";" + outside.Path(), "/f"},
                      {"TOVALINK_HOME=" + site.home.Path()}, out),
            0)
      << out;
  EXPECT_EQ(WriteBlock(SiteBlock(outside / "in", logDir)), kACK);
  EXPECT_EQ(StoredString(site, "ExportDir"), outside / "in");
  EXPECT_TRUE(platform::Env::Default()->FileExists(outside / "sentinel.txt"));
  EXPECT_EQ(site.Stop(), 0) << site.output;
}

TEST_F(NetworkEndToEnd, AnExchangeHoldsExportingBackForOneTimeOutAtMost) {
  StartSite();
  // Connected and silent: no hold at all.
  platform::TcpSocket silent = ConnectWithin(kParamServerPort, 10s);
  ASSERT_TRUE(silent.Valid());
  site.Drop("first.txt", GoodsFile(1));
  const long silentMs = MsUntilLog(site, 1);
  EXPECT_GE(silentMs, 0);
  EXPECT_LT(silentMs, ScaledBelow(kParamServerTimeoutMs / 2, kParamServerTimeoutMs))
      << "a silent connection held the cycle back";
  silent.Close();

  // An exchange that trickles: ENQ, then BEL and half a block late.  It
  // holds the cycle until its one time-out, counted from the ENQ.
  platform::TcpSocket slow = OpenExchange();
  ASSERT_TRUE(slow.Valid());
  const auto enq = std::chrono::steady_clock::now();
  site.Drop("second.txt", GoodsFile(2));
  EXPECT_FALSE(site.WaitForLog(2, kParamServerTimeoutMs * 2 / 3)) << "the exchange holds the cycle back";
  std::vector<uint8_t> half = {kBEL};
  const std::vector<uint8_t> block = SiteBlock(site.exportDir, site.logDir).Bytes();
  half.insert(half.end(), block.begin(), block.begin() + 20);
  ASSERT_TRUE(Send(slow, half));
  EXPECT_EQ(Answer(slow), kNAK);
  ASSERT_TRUE(site.WaitForLog(2, 30000));
  const auto held = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - enq);
  // One time-out, one timer period (1 s) and its 500 ms poll, and the
  // delivery itself.
  EXPECT_LT(held.count(),
            ScaledBelow(kParamServerTimeoutMs + 1500 + 3000, 2 * kParamServerTimeoutMs));
  EXPECT_EQ(site.Stop(), 0) << site.output;
}

TEST_F(NetworkEndToEnd, AStreamOfExchangesLetsAWaitingFileThroughAfterOne) {
  StartSite();
  std::atomic<bool> stop{false};
  std::atomic<int> accepted{0};
  // A tool that takes its time over each exchange and opens the next one
  // at once: some exchange is open nearly all the time.
  std::thread tool([&] {
    const BlockBuilder b = SiteBlock(site.exportDir, site.logDir);
    while (!stop) {
      platform::TcpSocket s = ConnectWithin(kParamServerPort, 10s);
      if (!s.Valid() || !Send(s, {kENQ})) continue;
      const int open = Answer(s);
      if (open != kACK) continue;
      std::this_thread::sleep_for(300ms);
      if (SendBlockOn(s, b) == kACK) ++accepted;
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return accepted.load() >= 3; }, 10000));
  site.Drop("prices.txt", GoodsFile());
  const long ms = MsUntilLog(site, 1);
  stop = true;
  tool.join();
  ASSERT_GE(ms, 0) << "the exchanges kept the file from every cycle";
  EXPECT_LT(ms, Scaled(5000));
  // Usually an ENQ met the cycle (BS); on a loaded machine the whole cycle
  // may also fit between two exchanges, which is just as good.
  EXPECT_EQ(site.Log()[0].code, 0);
  EXPECT_EQ(site.Stop(), 0) << site.output;
}

TEST_F(NetworkEndToEnd, SilentStatusClientsLockNoQueryOutAndAreClosedWhenIdle) {
  StartSite();
  std::vector<platform::TcpSocket> silent(40);
  for (auto& s : silent) ASSERT_TRUE(s.Create() && s.Connect("127.0.0.1", kStatusPort));
  EXPECT_EQ(QueryStatus(static_cast<int>(Scaled(1000))), (std::vector<uint8_t>{1, 91, 3})) << "every slot was taken by silence";
  // A silent client is closed after the idle time-out: its receive sees
  // the end of the stream, not its own time-out.
  platform::TcpSocket idle;
  ASSERT_TRUE(idle.Create() && idle.SetRecvTimeout(25000) && idle.Connect("127.0.0.1", kStatusPort));
  const uint32_t start = platform::TickCount();
  uint8_t byte = 0;
  EXPECT_EQ(idle.Recv(&byte, 1), 0);
  EXPECT_LT(platform::TickCount() - start, static_cast<uint32_t>(ScaledBelow(18000, 25000)));
  EXPECT_EQ(site.Stop(), 0) << site.output;
}

TEST_F(NetworkEndToEnd, AFloodOnBothPortsLeavesStatusAndDeliveryOnTime) {
  rlimit files{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
  files.rlim_cur = files.rlim_max;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
  ASSERT_GE(files.rlim_cur, 2600u);
  StartSite();
  // Without a flood: how long a file takes from the drop to its log line.
  site.Drop("calm.txt", GoodsFile(1));
  const long calmMs = MsUntilLog(site, 1);
  ASSERT_GE(calmMs, 0);
  // The log line comes before the cycle's end; a file dropped earlier would
  // wait for that end and a full period.
  ASSERT_TRUE(WaitUntil([] { return QueryStatus(2000) == std::vector<uint8_t>{1, 91, 1}; }, 10000));

  std::vector<int> fds = SilentConnections(kParamServerPort, 1200);
  std::vector<int> more = SilentConnections(kStatusPort, 1200);
  fds.insert(fds.end(), more.begin(), more.end());
  EXPECT_EQ(fds.size(), 2400u);
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(QueryStatus(static_cast<int>(Scaled(1000))), (std::vector<uint8_t>{1, 91, 1}));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(Scaled(1000)));
  site.Drop("flood.txt", GoodsFile(2));
  const long floodMs = MsUntilLog(site, 2);
  for (int fd : fds) close(fd);
  ASSERT_GE(floodMs, 0) << "no delivery under the flood";
  // One timer period (1 s) and its 500 ms poll on top of the calm delivery.
  EXPECT_LT(floodMs, calmMs + Scaled(1500 + 2000));
  EXPECT_EQ(site.Stop(), 0) << site.output;
}

}  // namespace
}  // namespace tv::test
