// The TCP link to one SM700 scale: connect, the opening exchange, framed
// records with acknowledgement and retries, close.  Owns the socket and the
// TRecords instance that frames every record before it goes out.
#pragma once

#include <cstdint>
#include <string>

#include "platform/net.h"
#include "sm700/Records.h"

namespace tv {

// Keyboard uploads always go to this port plus the scale number.
constexpr int kSm700BasePort = 2000;
constexpr int kSm700TimeoutMs = 15000;
constexpr int kSm700RecordAttempts = 5;
constexpr int kSm700HelloAttempts = 6;
constexpr uint8_t kSm700Ack = 0x06;
constexpr uint8_t kSm700AltAck = 0xE2;

class TSM700Uploader {
 public:
  // `basePort` and `timeoutMs` (send and receive) exist so tests can reach
  // a scale on a port of their own and need not wait the real time-out.
  explicit TSM700Uploader(int basePort = kSm700BasePort, int timeoutMs = kSm700TimeoutMs)
      : basePort_(basePort), port_(basePort), timeoutMs_(timeoutMs) {}
  ~TSM700Uploader() { Close(); }
  TSM700Uploader(const TSM700Uploader&) = delete;
  TSM700Uploader& operator=(const TSM700Uploader&) = delete;

  void SetAddress(int portOffset, const std::string& address);
  bool Connect();
  // True when not connected or when the socket was shut down and closed.
  bool Close();
  // Frames `text` with the framer's current kind and sends it until the
  // scale accepts it (at most five times).  A text that cannot be framed is
  // not sent and counts as done.
  bool SendRecord(const std::string& text);
  // The opening exchange F2 <code>; true once the scale acknowledges it
  // within six attempts.
  bool Hello(uint8_t code);

  TRecords& Framer() { return framer_; }
  bool Connected() const { return connected_; }
  int Port() const { return port_; }
  int TimeoutMs() const { return timeoutMs_; }
  const std::string& Address() const { return address_; }
  // What ended a failed upload, for the operator ("connection refused on
  // port 2005"); empty while nothing failed.
  const std::string& Cause() const { return cause_; }

 private:
  bool SendAndAwaitAck(const uint8_t* frame, size_t length, bool& accepted);
  bool Fail(std::string cause);

  platform::TcpSocket socket_;
  std::string address_;
  int basePort_;
  int port_;
  int timeoutMs_;
  bool connected_ = false;
  std::string cause_;
  TRecords framer_;
};

}  // namespace tv
