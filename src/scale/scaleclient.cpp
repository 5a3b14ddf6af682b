#include "scale/scaleclient.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "scale/reachability.h"
#include "scale/goodsencoder.h"

namespace tv {
namespace {

// strerror's words in lower case, as they go into the middle of a sentence.
std::string ErrnoText(int error) {
  std::string text = std::strerror(error);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && (text.size() < 2 || text[1] > 'Z'))
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

std::string Seconds(int ms) {
  char buf[16];
  std::snprintf(buf, sizeof buf, ms % 1000 == 0 ? "%.0f s" : "%.1f s", ms / 1000.0);
  return buf;
}

// "goods 4302 (line 17)", "the deletion of goods 77", "the clock frame".
std::string StepText(const TDeliveryStep& step) {
  switch (step.kind) {
    case TStepKind::Goods: {
      std::string out = "goods " + std::to_string(step.goodsNumber);
      if (step.line != 0) out += " (line " + std::to_string(step.line) + ")";
      return out;
    }
    case TStepKind::Delete: return "the deletion of goods " + std::to_string(step.goodsNumber);
    default: return "the clock frame";
  }
}

}  // namespace

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
  if (TPINGProcess::Reach(endpoint.address) == 0) return Fail(kResultUnreachable, "no ping reply");
  if (!socket.Create()) return Fail(kResultNetworkError, "no socket: " + ErrnoText(errno));
  if (!socket.SetSendTimeout(networkTimeoutMs) || !socket.SetRecvTimeout(networkTimeoutMs)) {
    const int error = errno;
    socket.Close();
    return Fail(kResultNetworkError, "socket time-outs not set: " + ErrnoText(error));
  }
  if (!socket.Connect(endpoint.address, static_cast<uint16_t>(endpoint.port))) {
    const int error = errno;
    socket.Close();
    return Fail(kResultUnreachable, ErrnoText(error) + " on port " + std::to_string(endpoint.port));
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
    ++stepsDone;
  }
  return true;
}

bool TScaleClnt::SendStep(const TDeliveryStep& step) {
  current = &step;
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
  ++frameNumber;
  // Made only for a failure: a delivery allocates nothing per frame.
  auto what = [&] {
    return "frame " + std::to_string(frameNumber) + " (" + StepText(*current) + ")";
  };
  if (!socket.SendAll(frame, length)) {
    const int error = errno;
    return Fail(kResultNetworkError, what() + " not sent: " + ErrnoText(error));
  }
  ++framesSent;
  uint8_t answer = 0;
  errno = 0;
  const long got = socket.Recv(&answer, 1);
  if (got == 0) return Fail(kResultNetworkError, "the scale closed the connection after " + what());
  if (got < 0) {
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK)
      return Fail(kResultNetworkError,
                  "no answer within " + Seconds(networkTimeoutMs) + " to " + what());
    return Fail(kResultNetworkError, "no answer to " + what() + ": " + ErrnoText(error));
  }
  if (answer == goods::kAck || (altAckAccepted && answer == goods::kAltAck)) return true;
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", answer);
  return Fail(kResultRejected, std::string("answer ") + hex + " to " + StepText(*current));
}

bool TScaleClnt::Fail(int code, std::string why) {
  resultCode = code;
  cause = std::move(why);
  return false;
}

}  // namespace tv
