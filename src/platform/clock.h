// Local wall-clock time.  The log line and an empty clock line read it; tests
// put a fixed clock in its place.
#pragma once

#include <string>

namespace tv::platform {

struct LocalTime {
  int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
};

// The system's local time.
const Clock& SystemClock();

// Formats `t` with a strftime format (the regional date or time format).
std::string FormatLocalTime(const LocalTime& t, const std::string& strftimeFormat);

}  // namespace tv::platform
