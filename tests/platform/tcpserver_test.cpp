// The shared accept loop: the connection cap, which connection makes room
// for a newcomer, the admission check and a prompt stop.
#include "platform/tcpserver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/tick.h"
#include "testutil.h"

namespace tv::platform {
namespace {

using namespace std::chrono_literals;

// Echoes every byte; an 'E' marks the connection engaged.
void Echo(TcpServer::Connection& c) {
  uint8_t b = 0;
  c.Socket().SetRecvTimeout(20000);
  while (!c.Stopping() && c.Socket().RecvByte(b)) {
    c.Heard();
    if (b == 'E') c.SetEngaged(true);
    if (!c.Socket().SendAll(&b, 1)) return;
  }
}

TcpSocket Client(uint16_t port) {
  TcpSocket s;
  EXPECT_TRUE(s.Create() && s.SetRecvTimeout(5000) && s.Connect("127.0.0.1", port));
  return s;
}

bool Echoes(TcpSocket& s, uint8_t b) {
  uint8_t back = 0;
  return s.SendAll(&b, 1) && s.RecvByte(back) && back == b;
}

// Closed by the server: the next receive sees the end of the stream.
bool Closed(TcpSocket& s) {
  uint8_t b = 0;
  return s.Recv(&b, 1) == 0;
}

TEST(TcpServer, ANewcomerTakesTheSlotOfTheIdlestConnectionThatIsNotEngaged) {
  TcpServer server(Echo, 3);
  ASSERT_TRUE(server.Start(0, "127.0.0.1"));
  TcpSocket engaged = Client(server.Port());
  ASSERT_TRUE(Echoes(engaged, 'E'));  // the idlest of all from here on
  TcpSocket older = Client(server.Port());
  ASSERT_TRUE(Echoes(older, 'x'));
  const uint32_t heard = TickCount();  // the two idle times must differ
  ASSERT_TRUE(test::WaitUntil([&] { return TickCount() - heard >= 2; }, 1000));
  TcpSocket newer = Client(server.Port());
  ASSERT_TRUE(Echoes(newer, 'x'));
  ASSERT_TRUE(test::WaitUntil([&] { return server.OpenConnections() == 3; }, 5000));

  TcpSocket newcomer = Client(server.Port());
  EXPECT_TRUE(Echoes(newcomer, 'x'));
  EXPECT_TRUE(Closed(older)) << "the idlest connection not engaged makes room";
  EXPECT_TRUE(Echoes(engaged, 'y'));
  EXPECT_TRUE(Echoes(newer, 'y'));
  EXPECT_EQ(server.OpenConnections(), 3u);
  server.Stop();
  EXPECT_TRUE(Closed(engaged)) << "stopping ends every connection";
}

TEST(TcpServer, ARefusedPeerIsClosedBeforeItsHandlerRuns) {
  std::atomic<int> served{0};
  std::atomic<int> asked{0};
  TcpServer server([&](TcpServer::Connection&) { ++served; });
  ASSERT_TRUE(server.Start(0, "127.0.0.1", [&](const std::string& peer) {
    ++asked;
    return peer != "127.0.0.1";
  }));
  TcpSocket s = Client(server.Port());
  EXPECT_TRUE(Closed(s));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(served, 0);
}

TEST(TcpServer, StopIsPromptWithSilentClientsConnected) {
  TcpServer server(Echo);
  ASSERT_TRUE(server.Start(0, "127.0.0.1"));
  std::vector<TcpSocket> silent;
  for (int i = 0; i < 5; ++i) silent.push_back(Client(server.Port()));
  ASSERT_TRUE(test::WaitUntil([&] { return server.OpenConnections() == 5; }, 5000));
  const auto start = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(test::Scaled(1000)));
  EXPECT_EQ(server.Port(), 0) << "no longer listening";
}

}  // namespace
}  // namespace tv::platform
