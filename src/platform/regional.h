// The host's regional settings (GetLocaleInfo's stand-in): list separator,
// decimal separator, short date and long time formats.  Read once at start
// from the process locale and then passed by value to whoever needs them;
// tests build their own.
#pragma once

#include <string>

namespace tv::platform {

struct Regional {
  char listSeparator = ',';
  char decimalSeparator = '.';
  std::string shortDateFormat = "%d.%m.%Y";  // strftime form
  std::string longTimeFormat = "%H:%M:%S";   // strftime form

  // From the process locale (LC_ALL / LANG): the decimal separator from
  // LC_NUMERIC, the date and time formats from LC_TIME.  The list separator
  // is ";" where the decimal separator is ",", else ",".
  static Regional FromProcessLocale();
};

}  // namespace tv::platform
