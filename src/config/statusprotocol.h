// The status query protocol on TCP 3058, shared by the status server, the
// `tovalink status` client and the tests.  The client sends the request
// byte; any other byte gets no reply.  The reply is N (the low byte of the
// scale count), then N scale numbers, then N states, with no prefix or
// terminator: 1 + 2N bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tv {

inline constexpr uint16_t kStatusPort = 3058;
inline constexpr uint8_t kStatusRequest = 1;

// The state byte of one scale.  A DeviceResults entry holds urSuccess after
// a delivery with code 0 and urFail after any other.
enum TUploadResult : uint8_t { urFail = 0, urSuccess = 1, urInProgress = 2, urUnknown = 3 };

// Reply layout for N scales.
constexpr size_t StatusReplyLength(uint8_t count) { return 1 + 2 * size_t{count}; }
constexpr size_t StatusNumberOffset(size_t i) { return 1 + i; }
constexpr size_t StatusStateOffset(uint8_t count, size_t i) { return 1 + size_t{count} + i; }

}  // namespace tv
