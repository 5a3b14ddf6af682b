#include "sm700/UploaderSM700.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/net.h"
#include "platform/thread.h"

namespace tv {
namespace {

// A far end that answers each opening message F2 xx with the next scripted
// answer (raw bytes); an empty answer closes the connection.
class HelloPeer : public platform::Thread {
 public:
  explicit HelloPeer(std::vector<std::string> answers) : answers_(std::move(answers)) {}
  ~HelloPeer() override {
    listener_.Close();
    WaitFor();
  }
  bool Listen() {
    if (!listener_.Listen(0, 1, "127.0.0.1")) return false;
    Start();
    return true;
  }
  int Port() const { return listener_.Port(); }
  int Hellos() const { return hellos_.load(); }

 protected:
  int Execute() override {
    platform::TcpSocket s = listener_.Accept();
    if (!s.Valid() || !s.SetRecvTimeout(5000)) return 1;
    for (const std::string& answer : answers_) {
      uint8_t message[2];
      if (!s.RecvExact(message, 2) || message[0] != 0xF2 || message[1] != 0x41) return 2;
      hellos_.fetch_add(1);
      if (answer.empty()) return 0;
      if (!s.SendAll(answer.data(), answer.size())) return 3;
    }
    return 0;
  }

 private:
  std::vector<std::string> answers_;
  platform::TcpListener listener_;
  std::atomic<int> hellos_{0};
};

TEST(Sm700Hello, FourByteAnswerIsReadLittleEndian) {
  HelloPeer peer({std::string("\x06\x00\x00\x00", 4)});
  ASSERT_TRUE(peer.Listen());
  TSM700Uploader u(peer.Port());
  u.SetAddress(0, "127.0.0.1");
  ASSERT_TRUE(u.Connect());
  EXPECT_TRUE(u.Hello(0x41));
  EXPECT_EQ(peer.Hellos(), 1);
}

TEST(Sm700Hello, RetriesUntilAcknowledged) {
  HelloPeer peer({"\x15", std::string("\x00\x00\x00\x06", 4), "\xE2"});
  ASSERT_TRUE(peer.Listen());
  TSM700Uploader u(peer.Port());
  u.SetAddress(0, "127.0.0.1");
  ASSERT_TRUE(u.Connect());
  EXPECT_TRUE(u.Hello(0x41));
  EXPECT_EQ(peer.Hellos(), 3);
}

TEST(Sm700Hello, FailsAfterSixUnacceptedAnswers) {
  HelloPeer peer(std::vector<std::string>(7, "\x15"));
  ASSERT_TRUE(peer.Listen());
  TSM700Uploader u(peer.Port());
  u.SetAddress(0, "127.0.0.1");
  ASSERT_TRUE(u.Connect());
  EXPECT_FALSE(u.Hello(0x41));
  EXPECT_EQ(peer.Hellos(), 6);
}

TEST(Sm700Hello, FailsWhenTheScaleHangsUp) {
  HelloPeer peer({""});
  ASSERT_TRUE(peer.Listen());
  TSM700Uploader u(peer.Port());
  u.SetAddress(0, "127.0.0.1");
  ASSERT_TRUE(u.Connect());
  EXPECT_FALSE(u.Hello(0x41));
}

TEST(Sm700Connection, PortIsBasePlusOffset) {
  TSM700Uploader production;
  production.SetAddress(17, "127.0.0.17");
  EXPECT_EQ(production.Port(), 2017);
  TSM700Uploader custom(40000);
  custom.SetAddress(3, "127.0.0.3");
  EXPECT_EQ(custom.Port(), 40003);
}

TEST(Sm700Connection, FailsWhenNothingListensOrTheTargetIsInvalid) {
  TSM700Uploader u;
  u.SetAddress(9, "127.0.0.9");
  EXPECT_FALSE(u.Connect());
  EXPECT_FALSE(u.Connected());
  TSM700Uploader badPort(65535);
  badPort.SetAddress(9, "127.0.0.9");
  EXPECT_FALSE(badPort.Connect());
  TSM700Uploader badAddress;
  badAddress.SetAddress(9, "not an address");
  EXPECT_FALSE(badAddress.Connect());
}

TEST(Sm700Connection, UnconnectedUploaderClosesTrueAndCannotSend) {
  TSM700Uploader u;
  EXPECT_TRUE(u.Close());
  EXPECT_FALSE(u.Hello(0x41));
  u.Framer().SetKind(kKindKey);
  EXPECT_FALSE(u.SendRecord("000000010055"));
}

TEST(Sm700Connection, UnframableRecordIsNotSentAndCountsAsDone) {
  HelloPeer peer({"\x06"});
  ASSERT_TRUE(peer.Listen());
  TSM700Uploader u(peer.Port());
  u.SetAddress(0, "127.0.0.1");
  ASSERT_TRUE(u.Connect());
  u.Framer().SetKind(9);
  EXPECT_TRUE(u.SendRecord("000000010055"));
  EXPECT_TRUE(u.Hello(0x41));
  EXPECT_TRUE(u.Close());
  EXPECT_FALSE(u.Connected());
  EXPECT_EQ(peer.WaitFor(), 0);  // the first bytes the peer saw were the opening message
}

}  // namespace
}  // namespace tv
