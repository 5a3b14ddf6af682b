// Local wall-clock time.  The log line and an empty clock line read it; tests
// put a fixed clock in its place.
#pragma once

#include <ctime>
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

// `seconds` as local ISO 8601 time with its UTC offset,
// "2026-03-05T09:07:00+01:00"; with `millis` 0 to 999 the seconds carry
// them ("09:07:00.123+01:00").
std::string FormatIso8601(std::time_t seconds, int millis = -1);

// Formats `t` with a strftime format (the regional date or time format).
std::string FormatLocalTime(const LocalTime& t, const std::string& strftimeFormat);

}  // namespace tv::platform
