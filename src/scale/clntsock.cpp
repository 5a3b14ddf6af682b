#include "scale/clntsock.h"

#include <utility>

#include "scale/ICMPunit.h"
#include "scale/goodsencoder.h"

namespace tv {

TScaleClnt::TScaleClnt(TScaleEndpoint endpoint_, TEncodedFilePtr file_, TScaleClntContext context)
    : endpoint(std::move(endpoint_)),
      file(file_ ? std::move(file_) : std::make_shared<const TEncodedFile>()),
      clock(context.clock ? *context.clock : platform::SystemClock()),
      networkTimeoutMs(context.networkTimeoutMs) {}

TScaleClnt::~TScaleClnt() { WaitFor(); }

int TScaleClnt::Execute() {
  if (!OpenConnection()) return resultCode;
  sentSomething = false;
  if (SendFrames()) {
    // A code 4 left by a record that could not be encoded ends here too.
    resultCode = sentSomething ? kResultDelivered : kResultNothingToSend;
  }
  CloseConnection();
  return resultCode;
}

bool TScaleClnt::OpenConnection() {
  if (TPINGProcess::Reach(endpoint.address) == 0) {
    resultCode = kResultUnreachable;
    return false;
  }
  if (!socket.Create()) {
    resultCode = kResultNetworkError;
    return false;
  }
  if (!socket.SetSendTimeout(networkTimeoutMs) || !socket.SetRecvTimeout(networkTimeoutMs)) {
    socket.Close();
    resultCode = kResultNetworkError;
    return false;
  }
  if (!socket.Connect(endpoint.address, static_cast<uint16_t>(endpoint.port))) {
    socket.Close();
    resultCode = kResultUnreachable;
    return false;
  }
  connected = true;
  return true;
}

bool TScaleClnt::CloseConnection() {
  if (connected) socket.Shutdown();  // the close follows whatever it reports
  socket.Close();
  connected = false;
  return true;
}

bool TScaleClnt::SendFrames() {
  for (const TDeliveryStep& step : file->steps) {
    if (!SendStep(step)) return false;
  }
  return true;
}

bool TScaleClnt::SendStep(const TDeliveryStep& step) {
  switch (step.kind) {
    case TStepKind::Unencodable:
      resultCode = kResultEncodeFailed;  // the delivery goes on
      return true;
    case TStepKind::UnreadableClock:
      return false;  // stops without a code of its own
    case TStepKind::CurrentClock: {
      size_t length = FrameClock(ClockSettingOf(clock.Now()), clockFrame.data(), clockFrame.size());
      if (length == 0) return false;
      sentSomething = true;
      return Exchange(clockFrame.data(), length, true);
    }
    case TStepKind::Goods:
      sentSomething = true;
      return step.length == 0 || Exchange(file->Frame(step), step.length, false);
    case TStepKind::Delete:
    case TStepKind::Clock:
      sentSomething = true;
      return Exchange(file->Frame(step), step.length, true);
  }
  return false;
}

bool TScaleClnt::Exchange(const uint8_t* frame, size_t length, bool altAckAccepted) {
  uint8_t answer = 0;
  if (!socket.SendAll(frame, length) || !socket.RecvByte(answer)) {
    resultCode = kResultNetworkError;
    return false;
  }
  if (answer == goods::kAck || (altAckAccepted && answer == goods::kAltAck)) return true;
  resultCode = kResultRejected;
  return false;
}

}  // namespace tv
