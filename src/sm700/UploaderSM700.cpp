#include "sm700/UploaderSM700.h"

namespace tv {
namespace {

bool Accepted(uint32_t answer) { return answer == kSm700Ack || answer == kSm700AltAck; }

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
    socket_.Close();
    return false;
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
  if (!socket_.SendAll(frame, length)) return false;
  uint8_t answer = 0;
  long n = socket_.Recv(&answer, 1);
  if (n < 0) return false;
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
  return false;
}

bool TSM700Uploader::Hello(uint8_t code) {
  const uint8_t message[2] = {0xF2, code};
  for (int attempt = 0; attempt < kSm700HelloAttempts; ++attempt) {
    if (!socket_.SendAll(message, sizeof message)) return false;
    uint8_t bytes[4] = {0, 0, 0, 0};
    if (socket_.Recv(bytes, sizeof bytes) <= 0) return false;
    uint32_t answer = bytes[0] | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
    if (Accepted(answer)) return true;
  }
  return false;
}

}  // namespace tv
