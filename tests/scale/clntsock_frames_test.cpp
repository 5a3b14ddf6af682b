// Between one acknowledgement and the next frame a client only sends: every
// operator new of the sending thread counts while a whole file goes out.
// A binary of its own, since it replaces the global operator new.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "scale/session_support.h"

namespace {

thread_local long allocationsOfThisThread = 0;

}  // namespace

// The replacements pair malloc with free; GCC cannot see that they match.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(size_t n) {
  ++allocationsOfThisThread;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace tv::test {
namespace {

class FramePathTest : public ::testing::Test, public EncoderFixture {};

TEST_F(FramePathTest, SendingAFileAllocatesNothingPerFrame) {
  sim::SimScale scale(kScaleAddress, kGoodsPort, 0);
  ASSERT_TRUE(scale.Start());
  lists.dLines = {"11", "12"};
  for (int i = 1; i <= 300; ++i)
    lists.aLines.push_back(lists.Keep(";2001234;" + std::to_string(1000 + i) +
                                      ";x;x;0;0;1.50;5;x;Pear " + std::to_string(i)));
  lists.tLines = {";now"};  // the clock frame is built while sending
  TEncodedFilePtr file = Encode();
  ASSERT_EQ(file->steps.size(), 303u);

  TScaleClnt client({kScaleAddress, kGoodsPort}, file, ClientContext(*this));
  ASSERT_TRUE(client.OpenConnection());
  const long before = allocationsOfThisThread;
  const bool sent = client.SendFrames();
  const long during = allocationsOfThisThread - before;
  client.CloseConnection();
  EXPECT_TRUE(sent);
  EXPECT_EQ(during, 0);
  EXPECT_EQ(client.ResultCode(), kResultDelivered);
  ASSERT_TRUE(scale.WaitForFrames(303, 5000));
  const std::vector<std::vector<uint8_t>> frames = scale.Frames();
  EXPECT_EQ(frames[301], Bytes(file->Frame(file->steps[301]), file->steps[301].length));
  uint8_t clockFrame[goods::kClockFrameLength];
  const size_t clockLength = FrameClock(ClockSettingOf(clock.now), clockFrame, sizeof clockFrame);
  EXPECT_EQ(frames[302], Bytes(clockFrame, clockLength));
}

}  // namespace
}  // namespace tv::test
