#include "platform/clock.h"

#include <cstdio>
#include <ctime>

namespace tv::platform {
namespace {

class SystemClockImpl : public Clock {
 public:
  LocalTime Now() const override {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  }
};

}  // namespace

const Clock& SystemClock() {
  static const SystemClockImpl clock;
  return clock;
}

std::string FormatIso8601(std::time_t seconds, int millis) {
  std::tm local{};
  localtime_r(&seconds, &local);
  char date[32], zone[8], fraction[8] = "";
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);
  if (millis >= 0 && millis < 1000) std::snprintf(fraction, sizeof fraction, ".%03d", millis);
  char out[64];
  std::snprintf(out, sizeof out, "%s%s%.3s:%.2s", date, fraction, zone, zone + 3);
  return out;
}

std::string FormatLocalTime(const LocalTime& t, const std::string& fmt) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  // Regional formats may name the weekday or the zone (%A, %j, %z); only a
  // normalised copy knows them.  The fields of `t` themselves stay as given.
  std::tm derived = tm;
  if (std::mktime(&derived) != static_cast<std::time_t>(-1)) {
    tm.tm_wday = derived.tm_wday;
    tm.tm_yday = derived.tm_yday;
    tm.tm_isdst = derived.tm_isdst;
    tm.tm_gmtoff = derived.tm_gmtoff;
    tm.tm_zone = derived.tm_zone;
  } else {
    tm.tm_isdst = 0;
  }
  char buf[128];
  size_t n = std::strftime(buf, sizeof buf, fmt.c_str(), &tm);
  return std::string(buf, n);
}

}  // namespace tv::platform
