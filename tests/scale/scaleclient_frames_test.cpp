// Between one acknowledgement and the next frame a client only sends: every
// operator new of the sending thread counts while a whole file goes out.
// A binary of its own, since it replaces the global operator new.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "scale/session_support.h"
#include "scale/worked_record.h"

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
  // The last goods line, worked by hand: code 1300, shelf life 5, name of 8
  // characters in the short font; then the fixture's clock.
  const std::vector<uint8_t> lastGoods = {
      0xF1, 0x25, 0x00, 0x00, 0x13, 0x00, 0x00, 0x2D, 0x54, 0x00, 0x0D, 0x64,
      0x11, 0x00, 0x00, 0x01, 0x50, 0x11, 0x05, 0x20, 0x01, 0x23, 0x40, 0x00,
      0x00, 0x01, 0x00, 0x05, 0x00, 0x00, 0x01, 0x09, 0x08, 'P',  'e',  'a',
      'r',  ' ',  '3',  '0',  '0',  0x0C, 0x02, 0x01, 0x20, 0x0C, 0x00};
  EXPECT_EQ(frames[301], lastGoods);
  EXPECT_EQ(frames[302], kClockFrame20240305At0907);
}

}  // namespace
}  // namespace tv::test
