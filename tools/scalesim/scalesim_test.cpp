#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/net.h"
#include "scalesim/options.h"
#include "scalesim/sim_scale.h"

namespace tv::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using platform::TcpSocket;

constexpr uint16_t kGoodsPort = 2005;
constexpr uint16_t kSm700Port = 2105;

const Bytes kDelete = {0xF3, 0x25, 0x00, 0x00, 0x01, 0x23};
const Bytes kClock = {0xF1, 0x4E, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x05, 0x03, 0x24, 0x00, 0x00, 0x09, 0x07};

Bytes GoodsFrame() {
  Bytes f = {0xF1, 0x25, 0x00, 0x00, 0x01, 0x23, 0x00, 0x1C, 0x54, 0x00, 0x0D, 0x04, 0x01,
             0x00, 0x00, 0x01, 0x50, 0x11, 0x05, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x01,
             0x00, 0x05, 0x01, 0x00};
  return f;  // ShelfLifeA and NoTextValue, no text blocks: 28 bytes of record
}

Bytes Sm700Record(uint8_t recordNo) {
  Bytes f = {0xF1, 0x41, 0x00, 0x00, 0x10, recordNo, 0x00, 0x55};
  f.resize(87, 0x00);
  f[13] = 0x01;
  return f;
}

TcpSocket Connect(uint16_t port) {
  TcpSocket s;
  EXPECT_TRUE(s.Create());
  s.SetRecvTimeout(3000);
  EXPECT_TRUE(s.Connect("127.0.0.5", port));
  return s;
}

// Sends a frame and gives the one answer byte, or -1 when none came.
int Exchange(TcpSocket& s, const Bytes& frame) {
  uint8_t answer;
  if (!s.SendAll(frame.data(), frame.size()) || !s.RecvByte(answer)) return -1;
  return answer;
}

bool PeerClosed(TcpSocket& s) {
  uint8_t b;
  return s.Recv(&b, 1) == 0;
}

class SimScaleTest : public ::testing::Test {
 protected:
  void StartWith(Behaviour b = {}) {
    sim_ = std::make_unique<SimScale>("127.0.0.5", kGoodsPort, kSm700Port, b);
    ASSERT_TRUE(sim_->Start());
  }
  std::unique_ptr<SimScale> sim_;
};

TEST_F(SimScaleTest, AnswersAndRecordsEveryGoodsFrameKind) {
  Behaviour b;
  b.deleteAnswer = 0xE2;
  b.clockAnswer = 0x15;
  StartWith(b);
  TcpSocket c = Connect(kGoodsPort);
  EXPECT_EQ(Exchange(c, kDelete), 0xE2);
  EXPECT_EQ(Exchange(c, GoodsFrame()), 0x06);
  EXPECT_EQ(Exchange(c, kClock), 0x15);
  c.Close();
  EXPECT_EQ(sim_->Frames(), (std::vector<Bytes>{kDelete, GoodsFrame(), kClock}));
  std::vector<std::string> lines = sim_->JsonLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("{\"scale\":5,\"port\":\"goods\",\"answer\":\"E2\",\"kind\":\"delete\",\"goods\":123", 0), 0u) << lines[0];
  EXPECT_NE(lines[1].find("\"kind\":\"goods\",\"goods\":123,\"length\":28"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"consistent\":true"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("\"answer\":\"15\",\"kind\":\"clock\""), std::string::npos) << lines[2];
  EXPECT_EQ(sim_->Connections(), 1);
}

TEST_F(SimScaleTest, NeverAnswerStillRecords) {
  Behaviour b;
  b.neverAnswer = true;
  StartWith(b);
  TcpSocket c = Connect(kGoodsPort);
  c.SetRecvTimeout(200);
  EXPECT_EQ(Exchange(c, kDelete), -1);
  EXPECT_TRUE(sim_->WaitForFrames(1, 2000));
  EXPECT_NE(sim_->JsonLines()[0].find("\"answer\":null"), std::string::npos);
}

TEST_F(SimScaleTest, ClosesAfterNFramesPerConnection) {
  Behaviour b;
  b.closeAfterFrames = 2;
  StartWith(b);
  for (int round = 0; round < 2; ++round) {
    TcpSocket c = Connect(kGoodsPort);
    EXPECT_EQ(Exchange(c, kDelete), 0x06);
    EXPECT_EQ(Exchange(c, kDelete), 0x06);
    EXPECT_EQ(Exchange(c, kDelete), -1);
  }
  EXPECT_EQ(sim_->Connections(), 2);
  EXPECT_EQ(sim_->Frames().size(), 4u);
}

TEST_F(SimScaleTest, DelaysItsAnswer) {
  Behaviour b;
  b.delayMs = 150;
  StartWith(b);
  TcpSocket c = Connect(kGoodsPort);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange(c, kDelete), 0x06);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140));
}

TEST_F(SimScaleTest, UnknownOrMalformedFrameClosesButScaleServesOn) {
  StartWith();
  TcpSocket unknown = Connect(kGoodsPort);
  ASSERT_TRUE(unknown.SendAll("\x12\x34", 2));
  EXPECT_TRUE(PeerClosed(unknown));

  TcpSocket tooShort = Connect(kGoodsPort);  // length field 3 cannot hold the head
  Bytes bad = {0xF1, 0x25, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03};
  ASSERT_TRUE(tooShort.SendAll(bad.data(), bad.size()));
  EXPECT_TRUE(PeerClosed(tooShort));

  TcpSocket huge = Connect(kGoodsPort);  // promises 65535 bytes, sends 10, leaves
  Bytes big = {0xF1, 0x25, 0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF, 1, 2};
  ASSERT_TRUE(huge.SendAll(big.data(), big.size()));
  huge.Close();

  TcpSocket good = Connect(kGoodsPort);
  EXPECT_EQ(Exchange(good, GoodsFrame()), 0x06);
  std::vector<std::string> lines = sim_->JsonLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("\"kind\":\"unknown\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("\"error\""), std::string::npos) << lines[1];
}

TEST_F(SimScaleTest, Sm700HelloRecordsAndRefusal) {
  Behaviour b;
  b.helloAnswer = 0xE2;
  b.sm700RefuseRecordNo = 1;
  StartWith(b);
  TcpSocket c = Connect(kSm700Port);
  EXPECT_EQ(Exchange(c, {0xF2, 0x41}), 0xE2);
  EXPECT_EQ(Exchange(c, Sm700Record(1)), 0x06);
  // Record 1 is refused on every attempt; record 0 was accepted.
  EXPECT_EQ(Exchange(c, Sm700Record(2)), 0x15);
  EXPECT_EQ(Exchange(c, Sm700Record(2)), 0x15);
  EXPECT_EQ(sim_->Sm700Hellos(), 1);
  ASSERT_EQ(sim_->Sm700Frames().size(), 3u);
  EXPECT_EQ(sim_->Sm700Frames()[0], Sm700Record(1));
  std::vector<std::string> lines = sim_->JsonLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find("\"port\":\"sm700\",\"answer\":\"E2\",\"kind\":\"hello\",\"code\":\"41\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("\"kind\":\"key\",\"record\":1001"), std::string::npos) << lines[1];
  EXPECT_EQ(sim_->Connections(), 0);
  EXPECT_EQ(sim_->Sm700Connections(), 1);
}

// --refuse on a goods scale: the record after R accepted ones is refused
// on every attempt, on any connection; delete frames are not records.
TEST_F(SimScaleTest, GoodsRecordRefusal) {
  Behaviour b;
  b.goodsRefuseRecordNo = 2;
  StartWith(b);
  TcpSocket c = Connect(kGoodsPort);
  EXPECT_EQ(Exchange(c, {0xF3, 0x25, 0, 0, 0, 0}), 0x06);
  EXPECT_EQ(Exchange(c, GoodsFrame()), 0x06);
  EXPECT_EQ(Exchange(c, GoodsFrame()), 0x06);
  EXPECT_EQ(Exchange(c, GoodsFrame()), 0x15);
  c.Close();
  TcpSocket again = Connect(kGoodsPort);
  EXPECT_EQ(Exchange(again, GoodsFrame()), 0x15) << "a retry is refused too";
}

TEST_F(SimScaleTest, Sm700NeverAnswerAndCloseAfter) {
  Behaviour b;
  b.sm700NeverAnswer = true;
  StartWith(b);
  TcpSocket c = Connect(kSm700Port);
  c.SetRecvTimeout(200);
  EXPECT_EQ(Exchange(c, {0xF2, 0x41}), 0x06);  // the opening is still answered
  EXPECT_EQ(Exchange(c, Sm700Record(1)), -1);
  c.Close();

  b = {};
  b.sm700CloseAfterRecords = 1;
  sim_->SetBehaviour(b);
  TcpSocket d = Connect(kSm700Port);
  EXPECT_EQ(Exchange(d, Sm700Record(1)), 0x06);
  EXPECT_EQ(Exchange(d, Sm700Record(2)), -1);
}

TEST_F(SimScaleTest, StopEndsHeldConnectionsPromptly) {
  Behaviour b;
  b.delayMs = 60000;
  StartWith(b);
  TcpSocket c = Connect(kGoodsPort);
  ASSERT_TRUE(c.SendAll(kDelete.data(), kDelete.size()));
  ASSERT_TRUE(sim_->WaitForFrames(1, 2000));
  auto start = std::chrono::steady_clock::now();
  sim_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(PeerClosed(c));
}

TEST(SimScale, RefusesNonLoopbackAndBusyPorts) {
  SimScale remote("192.168.0.5", kGoodsPort, 0);
  EXPECT_FALSE(remote.Start());
  SimScale first("127.0.0.5", kGoodsPort, 0);
  ASSERT_TRUE(first.Start());
  SimScale second("127.0.0.5", kGoodsPort, 0);
  EXPECT_FALSE(second.Start());
}

TEST(SimOptions, ParsesScalesAndMisbehaviours) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"--scales", "1,3-5", "--port-base", "3000", "--answer", "5=0x15",
                               "--never", "3", "--close-after", "4=2", "--delay", "1=500"},
                              o, error))
      << error;
  EXPECT_EQ(o.scales, (std::vector<int>{1, 3, 4, 5}));
  EXPECT_EQ(o.portBase, 3000);
  EXPECT_EQ(o.BehaviourOf(5).goodsAnswer, 0x15);
  EXPECT_EQ(o.BehaviourOf(5).recordAnswer, 0x15);
  EXPECT_TRUE(o.BehaviourOf(3).neverAnswer);
  EXPECT_EQ(o.BehaviourOf(4).closeAfterFrames, 2);
  EXPECT_EQ(o.BehaviourOf(1).delayMs, 500);
  EXPECT_EQ(o.BehaviourOf(2).goodsAnswer, 0x06);

  SimOptions refusing;
  ASSERT_TRUE(ParseSimOptions({"--scales", "4", "--refuse", "4=2"}, refusing, error)) << error;
  EXPECT_EQ(refusing.BehaviourOf(4).goodsRefuseRecordNo, 2) << "a goods scale refuses too";
  SimOptions help;
  ASSERT_TRUE(ParseSimOptions({"--help"}, help, error)) << error;
  EXPECT_TRUE(help.help) << "--help is no option waiting for a value";

  SimOptions bad;
  EXPECT_FALSE(ParseSimOptions({"--scales", "1", "--prefix", "192.168.0."}, bad, error));
  EXPECT_FALSE(ParseSimOptions({"--scales", "1", "--port-base", "65535"}, bad, error));
  EXPECT_FALSE(ParseSimOptions({"--scales", "1,x"}, bad, error));
  EXPECT_FALSE(ParseSimOptions({"--answer", "5=300", "--scales", "5"}, bad, error));
  EXPECT_FALSE(ParseSimOptions({"--port-base", "2000"}, bad, error));
}

}  // namespace
}  // namespace tv::sim
