#include "sm700/UploaderSM700.h"

#include <cerrno>
#include <cstring>

namespace tv {
namespace {

bool Accepted(uint32_t answer) { return answer == kSm700Ack || answer == kSm700AltAck; }

std::string ErrnoText(int error) {
  std::string text = std::strerror(error);
  if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && text[1] > 'Z')
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

// A receive that failed: the time-out, or what the system said.
std::string NoAnswer(int error, int timeoutMs, const char* to) {
  if (error == EAGAIN || error == EWOULDBLOCK)
    return "no answer within " + std::to_string(timeoutMs / 1000) + " s to " + to;
  return std::string("no answer to ") + to + ": " + ErrnoText(error);
}

}  // namespace

void TSM700Uploader::SetAddress(int portOffset, const std::string& address) {
  port_ = portOffset + basePort_;
  address_ = address;
}

bool TSM700Uploader::Connect() {
  if (port_ <= 0 || port_ > 0xFFFF) return false;
  if (platform::InetAddr(address_) == platform::kInvalidAddress) return false;
  if (!socket_.Create()) return false;
  if (!socket_.SetSendTimeout(timeoutMs_) || !socket_.SetRecvTimeout(timeoutMs_) ||
      !socket_.Connect(address_, static_cast<uint16_t>(port_))) {
    const int error = errno;
    socket_.Close();
    return Fail(ErrnoText(error) + " on port " + std::to_string(port_));
  }
  connected_ = true;
  return true;
}

bool TSM700Uploader::Close() {
  if (!connected_) return true;
  if (!socket_.Shutdown()) return false;
  socket_.Close();
  connected_ = false;
  return true;
}

bool TSM700Uploader::SendAndAwaitAck(const uint8_t* frame, size_t length, bool& accepted) {
  if (!socket_.SendAll(frame, length)) return Fail("a record not sent: " + ErrnoText(errno));
  uint8_t answer = 0;
  errno = 0;
  long n = socket_.Recv(&answer, 1);
  if (n < 0) return Fail(NoAnswer(errno, timeoutMs_, "a record"));
  // A peer that closed gives no answer: that attempt is simply not accepted.
  accepted = n == 1 && Accepted(answer);
  return true;
}

bool TSM700Uploader::SendRecord(const std::string& text) {
  int length = framer_.FrameRecord(text);
  if (length == 0) return true;
  for (int attempt = 0; attempt < kSm700RecordAttempts; ++attempt) {
    bool accepted = false;
    if (!SendAndAwaitAck(framer_.Frame(), static_cast<size_t>(length), accepted)) return false;
    if (accepted) return true;
  }
  return Fail("a record refused " + std::to_string(kSm700RecordAttempts) + " times");
}

bool TSM700Uploader::Hello(uint8_t code) {
  const uint8_t message[2] = {0xF2, code};
  for (int attempt = 0; attempt < kSm700HelloAttempts; ++attempt) {
    if (!socket_.SendAll(message, sizeof message))
      return Fail("the opening exchange not sent: " + ErrnoText(errno));
    uint8_t bytes[4] = {0, 0, 0, 0};
    errno = 0;
    const long n = socket_.Recv(bytes, sizeof bytes);
    if (n == 0) return Fail("the scale closed the connection at the opening exchange");
    if (n < 0) return Fail(NoAnswer(errno, timeoutMs_, "the opening exchange"));
    uint32_t answer = bytes[0] | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
    if (Accepted(answer)) return true;
  }
  return Fail("the opening exchange refused " + std::to_string(kSm700HelloAttempts) + " times");
}

bool TSM700Uploader::Fail(std::string cause) {
  cause_ = std::move(cause);
  return false;
}

}  // namespace tv
