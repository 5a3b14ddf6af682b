#include "sm700/Sender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "scalesim/sim_scale.h"
#include "testutil.h"

namespace tv {
namespace {

using Frame = std::vector<uint8_t>;

const TKeyInfo kKey{" Apple", 15, 2, 3, "apple.png"};

struct Scale {
  explicit Scale(uint8_t number, sim::Behaviour b = {}, int timeoutMs = kSm700TimeoutMs)
      : address("127.0.0." + std::to_string(number)),
        sim(address, 0, static_cast<uint16_t>(kSm700BasePort + number), b),
        sender(number, address, kSm700BasePort, timeoutMs) {}
  bool Open() { return sim.Start() && sender.Connect() && sender.OpenSession(); }

  std::string address;
  sim::SimScale sim;
  TSender sender;
};

uint8_t Command(const Frame& f) { return f.size() > 1 ? f[1] : 0; }

TEST(Sm700Sender, ScaleFiveIsReachedOnPort2005) {
  Scale scale(5);
  ASSERT_TRUE(scale.Open());
  EXPECT_EQ(scale.sender.Uploader().Port(), 2005);
  EXPECT_EQ(scale.sim.Sm700Connections(), 1);
  EXPECT_EQ(scale.sim.Sm700Hellos(), 1);
  EXPECT_TRUE(scale.sender.SendKeyboard({"Fruit", 1}));
  ASSERT_EQ(scale.sim.Sm700Frames().size(), 1u);
  EXPECT_EQ(scale.sim.Sm700Frames()[0].size(), 87u);
  scale.sender.Disconnect();
  EXPECT_FALSE(scale.sender.Uploader().Connected());
}

TEST(Sm700Sender, KeyGoesOutAsThreeRecordsSharingAnImageNumber) {
  Scale scale(6);
  ASSERT_TRUE(scale.Open());
  SetImageNumber(254);
  ASSERT_TRUE(scale.sender.SendKey(kKey));
  auto frames = scale.sim.Sm700Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(Command(frames[0]), 0x41);
  EXPECT_EQ(Command(frames[1]), 0x37);
  EXPECT_EQ(Command(frames[2]), 0xA5);
  EXPECT_EQ(Frame(frames[1].begin() + 2, frames[1].begin() + 6), (Frame{0x00, 0x00, 0x02, 0x56}));
  EXPECT_EQ(Frame(frames[2].begin() + 8, frames[2].begin() + 10), (Frame{0x02, 0x56}));
  EXPECT_EQ(CurrentImageNumber(), 256);
}

TEST(Sm700Sender, RefusedRecordIsSentFiveTimesThenFails) {
  sim::Behaviour b;
  b.recordAnswer = 0x15;
  Scale scale(7, b);
  ASSERT_TRUE(scale.Open());
  EXPECT_FALSE(scale.sender.SendKeyboard({"Fruit", 1}));
  auto frames = scale.sim.Sm700Frames();
  ASSERT_EQ(frames.size(), 5u);
  for (const Frame& f : frames) EXPECT_EQ(f, frames[0]);
}

TEST(Sm700Sender, AlternativeAcknowledgementIsAccepted) {
  sim::Behaviour b;
  b.helloAnswer = 0xE2;
  b.recordAnswer = 0xE2;
  Scale scale(8, b);
  ASSERT_TRUE(scale.Open());
  EXPECT_TRUE(scale.sender.SendKey(kKey));
  EXPECT_EQ(scale.sim.Sm700Frames().size(), 3u);
}

TEST(Sm700Sender, RefusedOpeningFailsTheSession) {
  sim::Behaviour b;
  b.helloAnswer = 0x15;
  Scale scale(9, b);
  ASSERT_TRUE(scale.sim.Start());
  ASSERT_TRUE(scale.sender.Connect());
  EXPECT_FALSE(scale.sender.OpenSession());
  EXPECT_EQ(scale.sim.Sm700Hellos(), 6);
}

TEST(Sm700Sender, RefusedImagePathStopsTheKeyBeforeItsImage) {
  sim::Behaviour b;
  b.sm700RefuseRecordNo = 1;
  Scale scale(10, b);
  ASSERT_TRUE(scale.Open());
  SetImageNumber(100);
  EXPECT_FALSE(scale.sender.SendKey(kKey));
  auto frames = scale.sim.Sm700Frames();
  ASSERT_EQ(frames.size(), 6u);
  EXPECT_EQ(Command(frames[0]), 0x41);
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(Command(frames[i]), 0x37);
  EXPECT_EQ(CurrentImageNumber(), 101);
}

TEST(Sm700Sender, KeyThatCannotBeEncodedIsNotSent) {
  Scale scale(11);
  ASSERT_TRUE(scale.Open());
  TKeyInfo bad = kKey;
  bad.KeyIndex = -5;
  EXPECT_FALSE(scale.sender.SendKey(bad));
  EXPECT_TRUE(scale.sim.Sm700Frames().empty());
}

TEST(Sm700Sender, SilentScaleFailsAfterOneAttemptAndTheTimeout) {
  sim::Behaviour b;
  b.sm700NeverAnswer = true;
  constexpr int kTimeoutMs = 400;
  Scale scale(12, b, kTimeoutMs);
  ASSERT_TRUE(scale.Open());
  EXPECT_EQ(scale.sender.Uploader().TimeoutMs(), kTimeoutMs);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(scale.sender.SendKeyboard({"Fruit", 1}));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(kTimeoutMs - 50));
  EXPECT_LT(waited,
            std::chrono::milliseconds(test::ScaledBelow(kTimeoutMs + 1500, kSm700TimeoutMs)));
  EXPECT_EQ(scale.sim.Sm700Frames().size(), 1u);
}

}  // namespace
}  // namespace tv
