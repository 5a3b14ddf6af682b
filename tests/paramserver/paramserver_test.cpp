#include "paramserver/paramserver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "logcapture.h"
#include "paramtestkit.h"
#include "platform/fs.h"
#include "testutil.h"

namespace tv {
namespace {

using namespace std::chrono_literals;
using test::Answer;
using test::BlockBuilder;
using test::Send;

constexpr uint16_t kPort = kParamServerPort;

class ParamServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_ = std::make_unique<platform::GuardedRegistry>(dir_.File("registry.db"));
    test::FillDefaultStore(*registry_);
    before_ = test::Snapshot(*registry_);
    // "Changes nothing" must cover the device tables too.
    ASSERT_EQ(before_.count(std::string(kDevicesKey) + "\\Scale1"), 1u);
  }
  void TearDown() override { StopServer(); }

  void StartServer(int timeoutMs = kParamServerTimeoutMs) {
    TParamServerHost host{registry_.get(), flags_, [this] {
                            ++reloads_;
                            return reloadAnswer_.load();
                          }};
    // The blocks' drive paths map into the state directory.
    host.defaultRoots = {platform::StateHome()};
    host.requestCycle = [this] { ++cycleRequests_; };
    host.quietSummaryMs = quietSummaryMs_;
    host.admit = admit_;
    server_ = std::make_unique<TParamServer>(std::move(host), kPort, timeoutMs);
    server_->Start();
  }
  void StopServer() {
    if (!server_) return;
    server_->Terminate();
    server_->WaitFor();
    server_.reset();
  }
  platform::TcpSocket Connect() {
    if (!server_) StartServer();
    platform::TcpSocket s = test::ConnectWithin(kPort, 5s);
    EXPECT_TRUE(s.Valid());
    return s;
  }
  // Sends ENQ, BEL and the block; the two answers.
  std::pair<int, int> Exchange(const std::vector<uint8_t>& block) {
    platform::TcpSocket s = Connect();
    Send(s, {kENQ});
    int open = Answer(s);
    std::vector<uint8_t> bel = {kBEL};
    bel.insert(bel.end(), block.begin(), block.end());
    Send(s, bel);
    return {open, Answer(s)};
  }
  int32_t ReadInt(const std::string& key, const std::string& name) {
    auto reg = registry_->Lock();
    platform::RegistryKey k = reg->OpenReadOnly(key);
    return k.ValueExists(name) ? k.ReadInteger(name) : -1;
  }
  std::string ReadStr(const std::string& name) {
    auto reg = registry_->Lock();
    return reg->OpenReadOnly(kProductKey).ReadString(name);
  }
  // A connection that only shows the server has finished the previous one.
  void ExpectServerServesNext() {
    platform::TcpSocket s = Connect();
    Send(s, {kDC1});
    EXPECT_EQ(Answer(s), kACK);
  }

  test::TempDir dir_;
  std::unique_ptr<platform::GuardedRegistry> registry_;
  std::shared_ptr<TEngineFlags> flags_ = std::make_shared<TEngineFlags>();
  std::atomic<int> reloads_{0};
  std::atomic<bool> reloadAnswer_{true};
  std::atomic<int> cycleRequests_{0};
  std::unique_ptr<TParamServer> server_;
  std::map<std::string, std::string> before_;
  int quietSummaryMs_ = 60000;
  platform::TcpServer::Admission admit_;
};

TEST_F(ParamServerTest, CompleteBlockForTwoScalesIsWrittenAndReloaded) {
  platform::TcpSocket s = Connect();
  Send(s, {kENQ});
  EXPECT_EQ(Answer(s), kACK);
  EXPECT_TRUE(server_->ClientConnected());
  std::vector<uint8_t> message = {kBEL};
  auto block = BlockBuilder().Bytes();
  message.insert(message.end(), block.begin(), block.end());
  Send(s, message);
  EXPECT_EQ(Answer(s), kACK);
  Send(s, {kEOT});
  EXPECT_EQ(Answer(s), -1);

  EXPECT_EQ(reloads_, 1);
  EXPECT_EQ(ReadStr("ExportDir"), "D:\\Export");
  EXPECT_EQ(ReadStr("LogoDir"), "D:\\Logs");
  EXPECT_EQ(ReadStr("FileMask"), "*.txt");
  EXPECT_EQ(ReadStr("BarPrefix"), "27");
  EXPECT_EQ(ReadStr("IPAdress"), "127.0.0.");
  const std::pair<const char*, int> ints[] = {
      {"VerInterval", 30}, {"BarcodeFormat", 7}, {"LFormat", 19}, {"LabelWidth", 60},
      {"INGRFontSize", 1}, {"SMessFontSize", 2}, {"m_iNameAlgorithm", 0}, {"TextToOEM", 0},
      {"LongBarCode", 1}, {"ImportType", 2}, {"SocketPort", 2000}};
  for (auto [name, value] : ints) EXPECT_EQ(ReadInt(kProductKey, name), value) << name;
  const int tables[5][2] = {{11, 12}, {1, 5}, {8, 9}, {1, 0}, {0, 3}};
  for (int t = 0; t < 5; ++t) {
    EXPECT_EQ(ReadInt(test::kTableKeys[t], "TotalNumber"), 2);
    EXPECT_EQ(ReadInt(test::kTableKeys[t], "Scale1"), tables[t][0]);
    EXPECT_EQ(ReadInt(test::kTableKeys[t], "Scale2"), tables[t][1]);
  }
}

TEST_F(ParamServerTest, HeaderBytesAreStoredAsDescribed) {
  BlockBuilder b;
  b.ip[0] = 10, b.ip[1] = 0, b.ip[2] = 5;
  b.header[5] = 2;  // byte 9: m_iNameAlgorithm
  b.textToOem = 2;  // byte 13
  b.verInterval = 0x1234;
  EXPECT_EQ(Exchange(b.Bytes()), (std::pair<int, int>(kACK, kACK)));
  EXPECT_EQ(ReadStr("IPAdress"), "10.0.5.");
  EXPECT_EQ(ReadInt(kProductKey, "m_iNameAlgorithm"), 1);
  EXPECT_EQ(ReadInt(kProductKey, "TextToOEM"), 2);
  EXPECT_EQ(ReadInt(kProductKey, "VerInterval"), 0x1234);
}

TEST_F(ParamServerTest, MalformedBlocksAreRefusedAndChangeNothing) {
  StartServer(500);
  auto noEot = BlockBuilder().Bytes();
  noEot.back() = 0;
  EXPECT_EQ(Exchange(noEot).second, kNAK);
  auto cut = BlockBuilder().Bytes();
  cut.pop_back();  // waits for the rest until the time-out
  EXPECT_EQ(Exchange(cut).second, kNAK);
  BlockBuilder tooLong;
  tooLong.strings[0].assign(kMaxTextPart, 'x');
  EXPECT_EQ(Exchange(tooLong.Bytes()).second, kNAK);
  std::vector<uint8_t> noStrings(17, 0);
  noStrings.push_back(kEOT);
  EXPECT_EQ(Exchange(noStrings).second, kNAK);
  ExpectServerServesNext();
  EXPECT_EQ(test::Snapshot(*registry_), before_);
  EXPECT_EQ(reloads_, 0);
}

TEST_F(ParamServerTest, BlockInThreeSegmentsIsAccepted) {
  platform::TcpSocket s = Connect();
  Send(s, {kENQ});
  ASSERT_EQ(Answer(s), kACK);
  auto block = BlockBuilder().Bytes();
  std::vector<uint8_t> parts[3] = {{kBEL}, {}, {}};
  parts[0].insert(parts[0].end(), block.begin(), block.begin() + 10);
  parts[1].assign(block.begin() + 10, block.begin() + 25);
  parts[2].assign(block.begin() + 25, block.end());
  for (const auto& part : parts) {
    Send(s, part);
    // The server must have read this part before the next one goes out.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (test::UnreadAtServer(kPort) != 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(Answer(s), kACK);
  EXPECT_EQ(ReadInt(kDeviceConstBCKey, "Scale2"), 3);
}

TEST_F(ParamServerTest, ShortFormsFillMissingEntries) {
  BlockBuilder b;  // N = 1, the strings followed directly by EOT
  b.scales = {40}, b.types = {0}, b.barcodes = {}, b.useBy = {}, b.constBc = {};
  EXPECT_EQ(Exchange(b.Bytes()).second, kACK);
  EXPECT_EQ(ReadInt(kDeviceBarcodeTypesKey, "Scale1"), kEOT);
  EXPECT_EQ(ReadInt(kDeviceUseByInDaysKey, "Scale1"), 0);
  EXPECT_EQ(ReadInt(kDeviceConstBCKey, "Scale1"), 0);

  b.scales = {40, 41, 42}, b.types = {0, 1, 2}, b.barcodes = {6};  // 6, EOT, then nothing
  EXPECT_EQ(Exchange(b.Bytes()).second, kACK);
  EXPECT_EQ(ReadInt(kDeviceBarcodeTypesKey, "Scale1"), 6);
  EXPECT_EQ(ReadInt(kDeviceBarcodeTypesKey, "Scale2"), kEOT);
  EXPECT_EQ(ReadInt(kDeviceBarcodeTypesKey, "Scale3"), 0);
  EXPECT_EQ(ReadInt(kDeviceConstBCKey, "TotalNumber"), 3);
}

TEST_F(ParamServerTest, NoScalesEmptiesTheTables) {
  BlockBuilder b;
  b.scales = b.types = b.barcodes = b.useBy = b.constBc = {};
  EXPECT_EQ(Exchange(b.Bytes()).second, kACK);
  for (const char* key : test::kTableKeys) {
    EXPECT_EQ(ReadInt(key, "TotalNumber"), 0);
    EXPECT_EQ(ReadInt(key, "Scale1"), -1);
  }
}

TEST_F(ParamServerTest, StoreOrReloadFailureAnswersNak) {
  {  // the last table the block rewrites fails it, after all the others
    auto reg = registry_->Lock();
    reg->DeleteKey(kDeviceConstBCKey);
  }
  const auto beforeBlock = test::Snapshot(*registry_);
  EXPECT_EQ(Exchange(BlockBuilder().Bytes()).second, kNAK);
  EXPECT_EQ(test::Snapshot(*registry_), beforeBlock);  // nothing of the block is written
  EXPECT_EQ(reloads_, 0);

  {
    auto reg = registry_->Lock();
    reg->CreateKey(kDeviceConstBCKey);
  }
  reloadAnswer_ = false;
  EXPECT_EQ(Exchange(BlockBuilder().Bytes()).second, kNAK);
  EXPECT_EQ(reloads_, 1);
}

TEST_F(ParamServerTest, CommandsOutOfOrderCloseTheConnection) {
  {  // BEL without ENQ: NAK at once, no block is awaited
    platform::TcpSocket s = Connect();
    Send(s, {kBEL});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Answer(s), kNAK);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(test::ScaledBelow(5000, kParamServerTimeoutMs)));
    EXPECT_EQ(Answer(s), -1);
  }
  {  // a second ENQ closes without an answer
    platform::TcpSocket s = Connect();
    Send(s, {kENQ, kENQ});
    EXPECT_EQ(Answer(s), kACK);
    EXPECT_EQ(Answer(s), -1);
  }
  {  // DC1 after ENQ is refused and leaves the lock alone
    flags_->ExportsLocked = true;
    platform::TcpSocket s = Connect();
    Send(s, {kENQ, kDC1});
    EXPECT_EQ(Answer(s), kACK);
    EXPECT_EQ(Answer(s), kNAK);
    EXPECT_EQ(Answer(s), -1);
    EXPECT_TRUE(flags_->ExportsLocked);
  }
  {  // after an accepted block every command ends the connection
    platform::TcpSocket s = Connect();
    auto block = BlockBuilder().Bytes();
    std::vector<uint8_t> msg = {kENQ, kBEL};
    msg.insert(msg.end(), block.begin(), block.end());
    Send(s, msg);
    EXPECT_EQ(Answer(s), kACK);
    EXPECT_EQ(Answer(s), kACK);
    Send(s, {kBEL});
    EXPECT_EQ(Answer(s), kNAK);
    EXPECT_EQ(Answer(s), -1);
    EXPECT_EQ(reloads_, 1);
  }
}

TEST_F(ParamServerTest, LockAndBusyFollowTheEngineFlags) {
  {
    platform::TcpSocket s = Connect();
    Send(s, {kDLE});
    EXPECT_EQ(Answer(s), kACK);
    EXPECT_EQ(Answer(s), -1);
    EXPECT_TRUE(flags_->ExportsLocked);
  }
  {
    platform::TcpSocket s = Connect();
    Send(s, {kDC1});
    EXPECT_EQ(Answer(s), kACK);
    EXPECT_FALSE(flags_->ExportsLocked);
  }
  flags_->CycleRunning = true;
  for (uint8_t command : {kENQ, kDLE}) {
    platform::TcpSocket s = Connect();
    Send(s, {command});
    EXPECT_EQ(Answer(s), kBS);
    EXPECT_EQ(Answer(s), -1);
  }
  EXPECT_FALSE(flags_->ExportsLocked);
}

TEST_F(ParamServerTest, OnlyAnOpenExchangeHoldsCyclesBackAndItsEndAsksForThePutOffOne) {
  StartServer(1000);
  platform::TcpSocket silent = Connect();
  ASSERT_TRUE(test::WaitUntil([&] { return server_->ClientConnected(); }, 5000));
  EXPECT_TRUE(flags_->TryBeginCycle()) << "a connected, silent client holds nothing back";
  flags_->CycleRunning = false;
  silent.Close();

  platform::TcpSocket s = Connect();
  Send(s, {kENQ});
  ASSERT_EQ(Answer(s), kACK);
  EXPECT_FALSE(flags_->TryBeginCycle());
  // The exchange's one time-out runs from its ENQ: a late, trickled block
  // is refused within it, and the put-off cycle is asked for.
  const auto enq = std::chrono::steady_clock::now();
  auto block = BlockBuilder().Bytes();
  std::vector<uint8_t> half = {kBEL};
  half.insert(half.end(), block.begin(), block.begin() + 10);
  Send(s, half);
  EXPECT_EQ(Answer(s), kNAK);
  EXPECT_LT(std::chrono::steady_clock::now() - enq,
            std::chrono::milliseconds(test::ScaledBelow(1900, 2000)));
  EXPECT_EQ(Answer(s), -1) << "the exchange ends with the connection";
  EXPECT_EQ(cycleRequests_, 1);
  EXPECT_FALSE(server_->ExchangeOpen());

  // A written block ends the exchange at once, before any EOT.
  flags_->CycleWanted = false;
  platform::TcpSocket w = Connect();
  std::vector<uint8_t> msg = {kENQ, kBEL};
  msg.insert(msg.end(), block.begin(), block.end());
  Send(w, msg);
  EXPECT_EQ(Answer(w), kACK);
  EXPECT_EQ(Answer(w), kACK);
  EXPECT_FALSE(server_->ExchangeOpen());
  EXPECT_TRUE(flags_->TryBeginCycle());
}

TEST_F(ParamServerTest, SilentClientChangesNothing) {
  {
    platform::TcpSocket s = Connect();
  }
  ExpectServerServesNext();
  EXPECT_EQ(test::Snapshot(*registry_), before_);
  EXPECT_EQ(reloads_, 0);
}

TEST_F(ParamServerTest, StopsPromptlyWhenIdle) {
  StartServer();
  platform::TcpSocket probe = test::ConnectWithin(kPort, 5s);  // listening for sure
  probe.Close();
  ExpectServerServesNext();
  const auto start = std::chrono::steady_clock::now();
  StopServer();
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(test::Scaled(2000)));
}

TEST_F(ParamServerTest, StopWithSilentClientEndsWithinReadTimeout) {
  StartServer(1000);
  platform::TcpSocket s = Connect();
  Send(s, {kENQ});
  ASSERT_EQ(Answer(s), kACK);
  const auto start = std::chrono::steady_clock::now();
  StopServer();
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(test::ScaledBelow(4000, kParamServerTimeoutMs)));
  EXPECT_EQ(Answer(s), -1);
}

TEST_F(ParamServerTest, PortInUseLeavesTheServiceWithoutServer) {
  platform::TcpListener other;
  ASSERT_TRUE(other.Listen(kPort, 1));
  testing::internal::CaptureStderr();
  StartServer();
  EXPECT_EQ(server_->WaitFor(), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot listen on port 3057"),
            std::string::npos);
}

// Several clients at once: silence costs nobody anything, exchanges still
// come one at a time, and the log tells who did what.
TEST_F(ParamServerTest, ConnectionsAreServedSideBySideButExchangesOneAtATime) {
  test::LogCapture log;
  std::vector<platform::TcpSocket> silent;
  for (int i = 0; i < 3; ++i) silent.push_back(Connect());
  platform::TcpSocket first = Connect();
  Send(first, {kENQ});
  ASSERT_EQ(Answer(first), kACK) << "silent connections hold no exchange back";
  platform::TcpSocket second = Connect();
  Send(second, {kENQ});  // waits for the first exchange to end
  {
    platform::TcpSocket lock = Connect();
    Send(lock, {kDLE});
    EXPECT_EQ(Answer(lock), kACK) << "a lock needs no exchange";
  }
  std::vector<uint8_t> message = {kBEL};
  const auto block = BlockBuilder().Bytes();
  message.insert(message.end(), block.begin(), block.end());
  Send(first, message);
  EXPECT_EQ(Answer(first), kACK);
  EXPECT_EQ(Answer(second), kACK) << "the second exchange opens when the first ends";
  EXPECT_EQ(reloads_, 1);

  const auto& n = platform::LogLevel::Notice;
  std::string all;
  for (const auto& line : log.Lines()) all += line.text + "\n";
  EXPECT_EQ(log.Count(n, {"from 127.0.0.1: exports locked"}), 1u);
  EXPECT_EQ(
      log.Count(
          n, {"from 127.0.0.1: parameter block written and settings reloaded: ",
              "VerInterval 10 -> 30", "ExportDir \"C:\\SCALEUPLOAD\\ExportDir\" -> \"D:\\Export\"",
              "Devices [91] -> [11,12]", "DeviceTypes [0] -> [1,5]", "1 value unchanged"}),
      1u)
      << all;
  EXPECT_EQ(log.Count(n, {"IPAdress"}), 0u) << "it held 127.0.0. before and after: only counted";
}

TEST_F(ParamServerTest, TheAuditLineOfALargeBlockIsWhole) {
  test::LogCapture log;
  BlockBuilder b;
  b.scales.clear();
  for (int i = 1; i <= 255; ++i) b.scales.push_back(static_cast<uint8_t>(i));
  b.types = b.barcodes = b.useBy = b.constBc = std::vector<uint8_t>(255, 1);
  EXPECT_EQ(Exchange(b.Bytes()), (std::pair<int, int>(kACK, kACK)));
  EXPECT_EQ(
      log.Count(platform::LogLevel::Notice, {"Devices [91] -> [1,2,3,", ",254,255]",
                                             "DeviceConstBC [0] -> [1,1,", "1 value unchanged"}),
      1u);
}

TEST_F(ParamServerTest, RefusedBlocksAndRefusedPeersAreLoggedWithTheirReason) {
  test::LogCapture log;
  {
    BlockBuilder b;
    b.strings[0] = "/etc";
    EXPECT_EQ(Exchange(b.Bytes()), (std::pair<int, int>(kACK, kNAK)));
  }
  {
    platform::TcpSocket s = Connect();
    Send(s, {kBEL});
    EXPECT_EQ(Answer(s), kNAK);
  }
  EXPECT_EQ(log.Count(platform::LogLevel::Notice,
                      {"parameter block refused, nothing written: ", "ExportDir"}),
            1u);
  EXPECT_EQ(log.Count(platform::LogLevel::Notice,
                      {"parameter block refused, nothing written: BEL without ENQ"}),
            1u);
  EXPECT_EQ(test::Snapshot(*registry_), before_);

  StopServer();
  std::atomic<int> asked{0};
  admit_ = [&](const std::string& peer) {
    ++asked;
    return peer != "127.0.0.1";
  };
  platform::TcpSocket s = Connect();
  Send(s, {kDLE});
  EXPECT_EQ(Answer(s), -1) << "a refused peer is closed unanswered";
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(flags_->ExportsLocked);
}

TEST_F(ParamServerTest, ConnectionsWithoutACommandAreSummedUpNotLoggedOneByOne) {
  test::LogCapture log;
  quietSummaryMs_ = 200;
  for (int i = 0; i < 3; ++i) {
    platform::TcpSocket s = Connect();
    if (i == 2) Send(s, {0x7F});  // a byte that is no command counts the same
  }
  ExpectServerServesNext();
  // The counted connections may straddle two periods; together they are 3.
  auto counted = [&] {
    size_t n = 0;
    for (const auto& line : log.Lines())
      if (line.text.find("ended without a command") != std::string::npos)
        n += std::stoul(line.text.substr(line.text.find(": ") + 2));
    return n;
  };
  ASSERT_TRUE(test::WaitUntil([&] { return counted() == 3; }, 5000)) << counted();
  EXPECT_LE(log.Count(platform::LogLevel::Notice, {"ended without a command"}), 2u);
  EXPECT_EQ(log.Count(platform::LogLevel::Notice, {"exports unlocked"}), 1u);
}

}  // namespace
}  // namespace tv
