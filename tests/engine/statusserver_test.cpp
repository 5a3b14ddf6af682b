#include "engine/statusserver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "engine/status_test_util.h"
#include "platform/net.h"
#include "platform/registry.h"
#include "testutil.h"

namespace tv {
namespace {

using Bytes = std::vector<uint8_t>;
using status_test::AskStatus;
using status_test::ConnectTo;
using status_test::ElapsedSince;
using status_test::WriteResult;
using status_test::WriteTable;

class StatusServerTest : public ::testing::Test {
 protected:
  StatusServerTest()
      : store_(dir_.Path() + "/registry.db"),
        flags_(std::make_shared<TEngineFlags>()),
        server_(store_, flags_) {}

  void SetUp() override { ASSERT_TRUE(server_.Activate()); }

  // Nothing arrives within a short window; the connection stays open.
  static void ExpectNoReply(platform::TcpSocket& s) {
    s.SetRecvTimeout(300);
    uint8_t b = 0;
    EXPECT_EQ(s.Recv(&b, 1), -1) << "unexpected byte " << int{b};
    s.SetRecvTimeout(3000);
  }

  status_test::TempDir dir_;
  platform::GuardedRegistry store_;
  std::shared_ptr<TEngineFlags> flags_;
  TStatusServer server_;
};

TEST_F(StatusServerTest, DefaultStoreListsScale91AsUnknownOnPort3058) {
  status_test::WriteDefaultTables(store_);
  EXPECT_EQ(server_.Port(), kStatusPort);
  auto client = ConnectTo(kStatusPort);
  EXPECT_EQ(AskStatus(client), (Bytes{1, 91, 3}));
}

TEST_F(StatusServerTest, StatesFollowResultsAndTheCycleFlag) {
  WriteTable(store_, kDevicesKey, {91, 7, 12});
  WriteResult(store_, 91, false);
  WriteResult(store_, 7, true);
  auto client = ConnectTo(kStatusPort);
  EXPECT_EQ(AskStatus(client), (Bytes{3, 91, 7, 12, 0, 1, 3}));

  flags_->CycleRunning = true;
  EXPECT_EQ(AskStatus(client), (Bytes{3, 91, 7, 12, 2, 2, 2}));

  // The cycle delivered to 91 and ended: each request reads the store afresh.
  WriteResult(store_, 91, true);
  flags_->CycleRunning = false;
  EXPECT_EQ(AskStatus(client), (Bytes{3, 91, 7, 12, 1, 1, 3}));
}

TEST_F(StatusServerTest, OtherRequestBytesAreIgnored) {
  status_test::WriteDefaultTables(store_);
  auto client = ConnectTo(kStatusPort);
  const uint8_t noise[] = {0, 2, 0xFF};
  ASSERT_TRUE(client.SendAll(noise, sizeof noise));
  EXPECT_EQ(AskStatus(client), (Bytes{1, 91, 3}));
  ExpectNoReply(client);
}

TEST_F(StatusServerTest, ScaleCountIsTheLowByteOfTotalNumber) {
  WriteTable(store_, kDevicesKey, {});
  {
    auto reg = store_.Lock();
    ASSERT_TRUE(reg->CreateKey(kDeviceResultsKey));
  }
  auto client = ConnectTo(kStatusPort);
  EXPECT_EQ(AskStatus(client), (Bytes{0}));

  // 300 entries whose numbers also need their low byte taken.
  std::vector<int32_t> numbers;
  for (int i = 1; i <= 300; ++i) numbers.push_back(1000 + i);
  WriteTable(store_, kDevicesKey, numbers);
  WriteResult(store_, (1000 + 44) & 0xFF, true);
  WriteResult(store_, (1000 + 45) & 0xFF, false);  // past the 44 reported

  Bytes expected{44};
  for (int i = 1; i <= 44; ++i) expected.push_back(static_cast<uint8_t>(1000 + i));
  for (int i = 1; i <= 44; ++i) expected.push_back(i == 44 ? 1 : 3);
  EXPECT_EQ(AskStatus(client), expected);
}

TEST_F(StatusServerTest, UnreadableTablesGiveNoReplyAndKeepTheConnection) {
  status_test::WriteDefaultTables(store_);
  auto client = ConnectTo(kStatusPort);

  {
    auto reg = store_.Lock();
    ASSERT_TRUE(reg->DeleteKey(kDeviceResultsKey));
  }
  const uint8_t request = kStatusRequest;
  ASSERT_TRUE(client.SendAll(&request, 1));
  ExpectNoReply(client);
  WriteResult(store_, 91, true);
  EXPECT_EQ(AskStatus(client), (Bytes{1, 91, 1}));

  // An entry the count promises but the table lacks.
  WriteTable(store_, kDevicesKey, {91, 92});
  {
    auto reg = store_.Lock();
    platform::RegistryKey devices = reg->Open(kDevicesKey, true);
    ASSERT_TRUE(devices.DeleteValue("Scale2"));
  }
  ASSERT_TRUE(client.SendAll(&request, 1));
  ExpectNoReply(client);

  {
    auto reg = store_.Lock();
    ASSERT_TRUE(reg->DeleteKey(kDevicesKey));
  }
  ASSERT_TRUE(client.SendAll(&request, 1));
  ExpectNoReply(client);

  WriteTable(store_, kDevicesKey, {91});
  EXPECT_EQ(AskStatus(client), (Bytes{1, 91, 1}));
}

TEST_F(StatusServerTest, ServesAtMost32ConnectionsAtOnceANewcomerTakesTheIdlestSlot) {
  status_test::WriteDefaultTables(store_);
  std::vector<platform::TcpSocket> clients;
  for (size_t i = 0; i < TStatusServer::kMaxConnections; ++i) {
    clients.push_back(ConnectTo(kStatusPort));
    ASSERT_EQ(AskStatus(clients.back()), (Bytes{1, 91, 3})) << "client " << i;
  }
  // Client 0 has been quiet the longest; 5 asks again, so it is not.
  ASSERT_EQ(AskStatus(clients[5]), (Bytes{1, 91, 3}));

  auto extra = ConnectTo(kStatusPort);
  EXPECT_EQ(AskStatus(extra), (Bytes{1, 91, 3})) << "the 33rd connection is served";
  uint8_t b = 0;
  EXPECT_EQ(clients.front().Recv(&b, 1), 0) << "the connection idle the longest made room";
  for (size_t i = 1; i < clients.size(); ++i) EXPECT_EQ(AskStatus(clients[i]), (Bytes{1, 91, 3})) << i;
  clients.erase(clients.begin());

  // A slot that frees up is served again.
  clients.front().Close();
  const auto start = std::chrono::steady_clock::now();
  std::optional<Bytes> reply;
  while (!reply && ElapsedSince(start).count() < 5000) {
    auto next = ConnectTo(kStatusPort);
    reply = AskStatus(next);
  }
  EXPECT_EQ(reply, (Bytes{1, 91, 3}));
}

TEST_F(StatusServerTest, FinishedConnectionsDoNotUseUpTheSlots) {
  status_test::WriteDefaultTables(store_);
  for (int i = 0; i < 100; ++i) {
    // A connection closed just before may not have ended on the server yet;
    // without reaping, every attempt after the 32nd would be refused.
    const auto start = std::chrono::steady_clock::now();
    std::optional<Bytes> reply;
    while (!reply && ElapsedSince(start).count() < 3000) {
      auto client = ConnectTo(kStatusPort);
      reply = AskStatus(client);
    }
    ASSERT_EQ(reply, (Bytes{1, 91, 3})) << "connection " << i;
  }
}

TEST_F(StatusServerTest, DeactivateEndsIdleConnectionsPromptly) {
  status_test::WriteDefaultTables(store_);
  auto idle = ConnectTo(kStatusPort);
  ASSERT_EQ(AskStatus(idle), (Bytes{1, 91, 3}));

  const auto start = std::chrono::steady_clock::now();
  server_.Deactivate();
  EXPECT_LT(ElapsedSince(start).count(), test::Scaled(1000));

  uint8_t b = 0;
  EXPECT_EQ(idle.Recv(&b, 1), 0);
  platform::TcpSocket late;
  ASSERT_TRUE(late.Create());
  EXPECT_FALSE(late.Connect("127.0.0.1", kStatusPort));

  // Can listen again after a stop.
  ASSERT_TRUE(server_.Activate());
  auto again = ConnectTo(kStatusPort);
  EXPECT_EQ(AskStatus(again), (Bytes{1, 91, 3}));
}

TEST(StatusServerIdleTest, AClientSilentForTheIdleTimeOutIsClosed) {
  status_test::TempDir dir;
  platform::GuardedRegistry store(dir.Path() + "/registry.db");
  status_test::WriteDefaultTables(store);
  TStatusServer server(store, std::make_shared<TEngineFlags>(), kStatusPort, 400);
  ASSERT_TRUE(server.Activate());
  auto talking = ConnectTo(kStatusPort);
  auto silent = ConnectTo(kStatusPort);
  const auto start = std::chrono::steady_clock::now();
  // Asking every 50 ms keeps a connection open past the time-out.
  while (ElapsedSince(start).count() < 800) {
    ASSERT_EQ(AskStatus(talking), (Bytes{1, 91, 3}));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  uint8_t b = 0;
  EXPECT_EQ(silent.Recv(&b, 1), 0);
  EXPECT_LT(ElapsedSince(start).count(), test::Scaled(3000));
  server.Deactivate();
}

TEST(StatusServerPortTest, ActivateFailsWhenThePortIsTaken) {
  status_test::TempDir dir;
  platform::GuardedRegistry store(dir.Path() + "/registry.db");
  platform::TcpListener other;
  ASSERT_TRUE(other.Listen(kStatusPort, 4));
  TStatusServer server(store, std::make_shared<TEngineFlags>());
  EXPECT_FALSE(server.Activate());
  server.Deactivate();
}

}  // namespace
}  // namespace tv
