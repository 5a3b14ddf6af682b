// Monotonic millisecond tick (GetTickCount's stand-in) and sleeping.
#pragma once

#include <cstdint>

namespace tv::platform {

// Milliseconds since an arbitrary start; wraps like a 32-bit tick count, so
// callers compare differences as unsigned numbers.
uint32_t TickCount();
void SleepMs(uint32_t ms);

}  // namespace tv::platform
