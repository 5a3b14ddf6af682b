// Whole deliveries over real TCP against the scale simulator.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "scale/session_support.h"
#include "scale/worked_record.h"

namespace tv::test {
namespace {

using V = std::vector<uint8_t>;
using sim::Behaviour;
using sim::SimScale;

const std::string& kGoods = kWorkedRecordLine;

class SessionTest : public ::testing::Test, public EncoderFixture {
 protected:
  bool StartScale(Behaviour b = {}) {
    scale = std::make_unique<SimScale>(kScaleAddress, kGoodsPort, 0, b);
    return scale->Start();
  }
  std::unique_ptr<SimScale> scale;
};

TEST_F(SessionTest, DeletionsOnlyAcceptTheAlternativeAnswer) {
  Behaviour b;
  b.deleteAnswer = 0xE2;
  ASSERT_TRUE(StartScale(b));
  lists.dLines = {";123", "abc", "456"};
  EXPECT_EQ(Deliver(*this), kResultDelivered);
  auto frames = scale->Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], (V{0xF3, 0x25, 0x00, 0x00, 0x01, 0x23}));
  EXPECT_EQ(frames[1], (V{0xF3, 0x25, 0x00, 0x00, 0x04, 0x56}));
}

TEST_F(SessionTest, NothingUsableGivesSix) {
  ASSERT_TRUE(StartScale());
  lists.dLines = {"abc", "", ";-4"};
  lists.aLines = {";1;999998;x;x;0;0;1.50;5;x;A", ";1;5;x;x;0;0;0.00;5;x;B", "garbage"};
  EXPECT_EQ(Deliver(*this), kResultNothingToSend);
  EXPECT_TRUE(scale->WaitForConnections(1, 5000));
  EXPECT_TRUE(scale->Frames().empty());
}

TEST_F(SessionTest, FullDeliveryInOrderWithTheFirstClockLineOnly) {
  ASSERT_TRUE(StartScale());
  lists.dLines = {"77"};
  lists.aLines = {kGoods, "not a goods line", kKindOneRecordLine};
  lists.tLines = {";2024;3;5;9;7", ";2025;1;1;0;0"};
  EXPECT_EQ(Deliver(*this), kResultDelivered);
  auto frames = scale->Frames();
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0], (V{0xF3, 0x25, 0x00, 0x00, 0x00, 0x77}));

  EXPECT_EQ(frames[1], kWorkedRecordFrame);
  EXPECT_EQ(frames[2], kKindOneRecordFrame);
  EXPECT_EQ(frames[3], kClockFrame20240305At0907);
  auto json = scale->JsonLines();
  ASSERT_EQ(json.size(), 4u);
  EXPECT_EQ(json[1].find("\"error\""), std::string::npos) << json[1];
}

TEST_F(SessionTest, UnreadableClockLineKeepsTheStoredCode) {
  ASSERT_TRUE(StartScale());
  lists.dLines = {"1"};
  lists.tLines = {";2024;3"};
  EXPECT_EQ(Deliver(*this), kResultDelivered);
  EXPECT_EQ(scale->Frames().size(), 1u);
}

TEST_F(SessionTest, AlternativeAnswerToAGoodsFrameGivesThree) {
  Behaviour b;
  b.goodsAnswer = 0xE2;
  ASSERT_TRUE(StartScale(b));
  lists.aLines = {kGoods, kGoods};
  lists.tLines = {";2024;3;5;9;7"};
  EXPECT_EQ(Deliver(*this), kResultRejected);
  EXPECT_EQ(scale->Frames().size(), 1u);  // nothing after the refused frame
}

TEST_F(SessionTest, OtherAnswerToAClockFrameGivesThree) {
  Behaviour b;
  b.clockAnswer = 0x15;
  ASSERT_TRUE(StartScale(b));
  lists.tLines = {""};
  EXPECT_EQ(Deliver(*this), kResultRejected);
  auto frames = scale->Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(V(frames[0].begin() + 7, frames[0].end()),
            (V{0x05, 0x03, 0x24, 0x00, 0x00, 0x09, 0x07}));  // the fixture's clock
}

TEST_F(SessionTest, ScaleThatClosesGivesOne) {
  Behaviour b;
  b.closeAfterFrames = 1;
  ASSERT_TRUE(StartScale(b));
  lists.dLines = {"1", "2", "3"};
  EXPECT_EQ(Deliver(*this), kResultNetworkError);
  EXPECT_GE(scale->Frames().size(), 1u);
}

TEST_F(SessionTest, ScaleThatNeverAnswersGivesOneAfterTheReceiveTimeOut) {
  Behaviour b;
  b.neverAnswer = true;
  ASSERT_TRUE(StartScale(b));
  lists.dLines = {"1", "2"};
  const int timeoutMs = 300;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Deliver(*this, {}, timeoutMs), kResultNetworkError);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(scale->Frames().size(), 1u);
  // The injected time-out, not the production 15 seconds, ended the wait.
  EXPECT_GE(waited, std::chrono::milliseconds(timeoutMs));
  EXPECT_LT(waited, std::chrono::milliseconds(
                        ScaledBelow(timeoutMs + 2000, TScaleClntContext::kNetworkTimeoutMs)));
}

TEST_F(SessionTest, RefusedConnectionGivesTwo) {
  lists.dLines = {"1"};
  EXPECT_EQ(Deliver(*this), kResultUnreachable);
}

TEST_F(SessionTest, EchoSilentScaleGivesTwoWithoutConnecting) {
  ASSERT_TRUE(IgnoreEchoRequests());
  ASSERT_TRUE(StartScale());
  lists.dLines = {"1"};
  EXPECT_EQ(Deliver(*this), kResultUnreachable);
  EXPECT_EQ(scale->Connections(), 0);
}

TEST_F(SessionTest, ClientsOfABatchSendOneSharedEncoding) {
  ASSERT_TRUE(StartScale());
  settings.ImportType = 2;
  for (int i = 1; i <= 20; ++i) {
    lists.aLines.push_back(lists.Keep(";1;" + std::to_string(i) + ";;;0;0;1.50;3;;;7;Goods;a;b"));
  }
  TEncodedFilePtr shared = Encode();
  ASSERT_EQ(shared->steps.size(), 20u);
  std::vector<std::unique_ptr<TScaleClnt>> clients;
  for (int i = 0; i < 5; ++i) {
    clients.push_back(std::make_unique<TScaleClnt>(TScaleEndpoint{kScaleAddress, kGoodsPort},
                                                   shared, ClientContext(*this)));
  }
  for (auto& c : clients) c->Start();
  for (auto& c : clients) EXPECT_EQ(c->WaitFor(), kResultDelivered);

  auto frames = scale->Frames();
  EXPECT_EQ(frames.size(), 100u);
  std::map<V, int> received;
  for (const V& f : frames) ++received[f];
  for (const TDeliveryStep& step : shared->steps) {
    V frame(shared->Frame(step), shared->Frame(step) + step.length);
    EXPECT_EQ(received[frame], 5);
    ASSERT_GT(frame.size(), 11u);
    EXPECT_EQ(frame[11], 0xE0);  // every line found its goods text
  }
}

TEST_F(SessionTest, CurrentTimeClockFrameIsBuiltWhenItIsSent) {
  ASSERT_TRUE(StartScale());
  lists.tLines = {";now"};
  TEncodedFilePtr file = Encode();
  clock.now = {2030, 11, 28, 23, 59, 0};  // time passes between encoding and sending
  TScaleClnt client({kScaleAddress, kGoodsPort}, file, ClientContext(*this));
  client.Start();
  EXPECT_EQ(client.WaitFor(), kResultDelivered);
  auto frames = scale->Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (V{0xF1, 0x4E, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x28, 0x11, 0x30, 0x00, 0x00,
                          0x23, 0x59}));
}

// A failure names what ended it, in the words the service log and
// `tovalink status` show.
struct Outcome {
  int code;
  std::string cause;
};

Outcome DeliverNamingTheCause(EncoderFixture& fixture,
                              int timeoutMs = TScaleClntContext::kNetworkTimeoutMs) {
  TScaleClnt client({kScaleAddress, kGoodsPort}, fixture.Encode({}),
                    ClientContext(fixture, timeoutMs));
  client.Start();
  const int code = client.WaitFor();
  return {code, client.Cause()};
}

TEST_F(SessionTest, AFailureNamesItsCause) {
  lists.dLines = {"1", "2"};
  Outcome refused = DeliverNamingTheCause(*this);
  EXPECT_EQ(refused.code, kResultUnreachable);
  EXPECT_EQ(refused.cause, "connection refused on port 3005");

  Behaviour silent;
  silent.neverAnswer = true;
  ASSERT_TRUE(StartScale(silent));
  Outcome timedOut = DeliverNamingTheCause(*this, 300);
  EXPECT_EQ(timedOut.code, kResultNetworkError);
  EXPECT_EQ(timedOut.cause, "no answer within 0.3 s to frame 1 (the deletion of goods 1)");

  Behaviour closing;
  closing.closeAfterFrames = 1;
  ASSERT_TRUE(StartScale(closing));
  Outcome closed = DeliverNamingTheCause(*this);
  EXPECT_EQ(closed.code, kResultNetworkError);
  // Closed before the second frame's answer, or even before it was sent.
  EXPECT_NE(closed.cause.find("frame 2 (the deletion of goods 2)"), std::string::npos)
      << closed.cause;

  Behaviour refusing;
  refusing.goodsAnswer = 0x15;
  ASSERT_TRUE(StartScale(refusing));
  lists.dLines.clear();
  lists.aLines = {"not a goods line", kGoods};
  lists.aLineNumbers = {4, 17};
  Outcome nak = DeliverNamingTheCause(*this);
  EXPECT_EQ(nak.code, kResultRejected);
  EXPECT_EQ(nak.cause, "answer 0x15 to goods 123 (line 17)");

  ASSERT_TRUE(StartScale());
  Outcome delivered = DeliverNamingTheCause(*this);
  EXPECT_EQ(delivered.code, kResultDelivered);
  EXPECT_EQ(delivered.cause, "");
}

TEST_F(SessionTest, EchoSilentScaleHasNoPingReply) {
  ASSERT_TRUE(IgnoreEchoRequests());
  lists.dLines = {"1"};
  EXPECT_EQ(DeliverNamingTheCause(*this).cause, "no ping reply");
}

}  // namespace
}  // namespace tv::test
