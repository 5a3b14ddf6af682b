// The byte protocol of the parameter server: command and answer bytes,
// the port and the limits every block is checked against.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tv {

inline constexpr uint8_t kETX = 0x03;  // ends each string of a block
inline constexpr uint8_t kEOT = 0x04;  // end the connection; last byte of a block
inline constexpr uint8_t kENQ = 0x05;  // open a configuration exchange
inline constexpr uint8_t kACK = 0x06;
inline constexpr uint8_t kBEL = 0x07;  // a parameter block follows
inline constexpr uint8_t kBS = 0x08;   // busy: an export cycle is running
inline constexpr uint8_t kDLE = 0x10;  // lock exports
inline constexpr uint8_t kDC1 = 0x11;  // unlock exports
inline constexpr uint8_t kNAK = 0x15;

inline constexpr uint16_t kParamServerPort = 3057;
inline constexpr int kParamServerBacklog = 5;
inline constexpr int kParamServerTimeoutMs = 15000;
inline constexpr size_t kIoBufferSize = 5120;
// The text part, final EOT included, may not exceed this.
inline constexpr size_t kMaxTextPart = 1400;

}  // namespace tv
