// The scale's device type as stored per scale, and the result codes with
// which a delivery to one scale ends.
#pragma once

#include <cstdint>

namespace tv {

enum class TScaleType : uint8_t {
  Pole = 0,
  Bench = 1,
  SelfService = 2,
  BigPlatform = 3,
  SM3600 = 4,
  SM700 = 5,
};

// Result codes of a goods delivery.  Logged unchanged; only 0 is success.
constexpr int kResultDelivered = 0;
constexpr int kResultNetworkError = 1;    // socket set-up, send or receive failed
constexpr int kResultUnreachable = 2;     // no echo reply, or connect failed
constexpr int kResultRejected = 3;        // answer byte was not the acknowledgement
constexpr int kResultEncodeFailed = 4;    // a goods record could not be encoded
constexpr int kResultNothingToSend = 6;   // no frame was sent
constexpr int kResultHeldBack = 18;       // not sent: an older file for the scale failed

}  // namespace tv
