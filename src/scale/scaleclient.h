// TScaleClnt: the client thread that delivers one encoded goods file to one
// scale over the scales' record protocol.  It opens the connection after an
// ICMP probe, sends the file's frames in order (deletions, goods, clock),
// reads the one-byte answer after every frame, and ends with a result code
// (scaletypes.h).  The frames are encoded before the client starts and may be
// shared read-only with other clients of the same profile, so nothing is
// encoded and nothing is locked between an answer and the next frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/net.h"
#include "platform/thread.h"
#include "scale/encodedfile.h"
#include "scale/goodsproto.h"
#include "scale/scaletypes.h"

namespace tv {

// Where the scale listens.
struct TScaleEndpoint {
  std::string address;  // dotted decimal
  int32_t port = 0;
};

// What a client takes from its surroundings.
struct TScaleClntContext {
  static constexpr int kNetworkTimeoutMs = 15000;
  const platform::Clock* clock = nullptr;  // null: the system clock
  int networkTimeoutMs = kNetworkTimeoutMs;  // send and receive, each
};

class TScaleClnt : public platform::Thread {
 public:
  TScaleClnt(TScaleEndpoint endpoint, TEncodedFilePtr file, TScaleClntContext context = {});
  ~TScaleClnt() override;

  // Session (each step false when the delivery must stop).
  bool OpenConnection();
  bool SendFrames();
  bool CloseConnection();
  int ResultCode() const { return resultCode; }
  // What ended a failed delivery, for the operator: "connection refused on
  // port 3002", "no answer within 15 s to frame 12 (goods 4302)"; empty
  // after a delivery.  Read once the thread has ended.
  const std::string& Cause() const { return cause; }
  // The steps the scale acknowledged: a delivery goes in order and stops at
  // the first failure, so they are the first StepsAcknowledged() of
  // Frames().steps.  Read once the thread has ended.
  size_t StepsAcknowledged() const { return stepsDone; }
  const TEncodedFile& Frames() const { return *file; }
  size_t FramesSent() const { return framesSent; }

 protected:
  int Execute() override;

 private:
  bool SendStep(const TDeliveryStep& step);
  bool Exchange(const uint8_t* frame, size_t length, bool altAckAccepted);
  bool Fail(int code, std::string why);

  const TScaleEndpoint endpoint;
  const TEncodedFilePtr file;
  const platform::Clock& clock;
  const int networkTimeoutMs;

  platform::TcpSocket socket;
  bool connected = false;
  bool sentSomething = false;
  int resultCode = kResultDelivered;
  std::string cause;
  const TDeliveryStep* current = nullptr;  // the step being exchanged
  size_t frameNumber = 0;                  // 1-based count of frames sent
  size_t stepsDone = 0;                    // steps passed, in order
  size_t framesSent = 0;                   // put on the wire whole
  std::array<uint8_t, goods::kClockFrameLength> clockFrame{};
};

}  // namespace tv
