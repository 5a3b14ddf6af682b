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

  // Stored stand-ins for the host's own separators: a stock host has no
  // locale but C.  0 keeps the locale's; a decimal separator alone brings
  // its list separator along, as a locale's does.
  void UseStoredSeparators(char list, char decimal);
  // The stored value each separator came from; nullptr: the locale.
  const char* listFrom = nullptr;
  const char* decimalFrom = nullptr;
};

}  // namespace tv::platform
