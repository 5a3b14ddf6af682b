// A simulated networked scale for tests and manual trials: it serves the
// goods record protocol and, optionally, the SM700 keyboard upload protocol
// on loopback, answers each frame as its Behaviour says and keeps every
// frame it received, raw and decoded to one JSON line.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "decode/decode.h"

namespace tv::sim {

using decode::TextCodePage;

struct ScaleState;

struct Behaviour {
  // Goods protocol: the one answer byte per frame kind.
  uint8_t goodsAnswer = 0x06;
  uint8_t deleteAnswer = 0x06;
  uint8_t clockAnswer = 0x06;
  int delayMs = 0;             // before every answer, both protocols
  bool neverAnswer = false;    // read frames but never answer
  int closeAfterFrames = -1;   // per connection: close after answering N frames (-1: never)
  // Refuses with 0x15 every attempt of the goods record (F1 25) that
  // follows this many accepted ones (0-based; -1: none).
  int goodsRefuseRecordNo = -1;
  TextCodePage goodsText = TextCodePage::Cp866;  // how label texts are decoded to UTF-8

  // SM700 protocol.
  uint8_t helloAnswer = 0x06;   // to every F2 xx opening message
  uint8_t recordAnswer = 0x06;  // to every record
  // Refuses with 0x15 every attempt of the record that follows this many
  // accepted records (0-based record number; -1: none).
  int sm700RefuseRecordNo = -1;
  bool sm700NeverAnswer = false;    // answers the opening, never a record
  int sm700CloseAfterRecords = -1;  // per connection: close after answering N records
};

class SimScale {
 public:
  // `address` must be a loopback address (127.x.x.x); a port of 0 leaves
  // that protocol off.  The scale number in every JSON line is the last
  // part of the address.
  SimScale(std::string address, uint16_t goodsPort, uint16_t sm700Port, Behaviour b = {});
  ~SimScale();
  SimScale(const SimScale&) = delete;
  SimScale& operator=(const SimScale&) = delete;

  // Binds the ports and starts serving; false when a port cannot be bound
  // or the address is not loopback.
  bool Start();
  // Closes the ports and open connections and joins the threads.
  void Stop();

  void SetBehaviour(const Behaviour& b);
  // Called on a serving thread with each JSON line as it is recorded; set
  // before Start().
  void SetLineSink(std::function<void(const std::string&)> sink);

  // Every received frame of both protocols as a JSON line, in arrival
  // order, with "scale", "port" ("goods" or "sm700") and "answer" (two hex
  // digits, or null when none was sent) added.  SM700 opening messages
  // appear as {"kind":"hello"} lines.
  std::vector<std::string> JsonLines() const;
  std::vector<std::vector<uint8_t>> Frames() const;       // goods protocol, raw
  std::vector<std::vector<uint8_t>> Sm700Frames() const;  // SM700 records, raw, openings excluded
  int Connections() const;       // accepted on the goods port
  int Sm700Connections() const;  // accepted on the SM700 port
  int Sm700Hellos() const;       // opening messages received

  // Poll-with-deadline helpers; true once the count is reached.
  bool WaitForFrames(size_t n, int timeoutMs) const;
  bool WaitForSm700Frames(size_t n, int timeoutMs) const;
  bool WaitForLines(size_t n, int timeoutMs) const;
  bool WaitForConnections(int n, int timeoutMs) const;

  const std::string& Address() const;

 private:
  std::unique_ptr<ScaleState> state_;
};

}  // namespace tv::sim
