#include "platform/regional.h"

#include <langinfo.h>

#include <clocale>

namespace tv::platform {

Regional Regional::FromProcessLocale() {
  Regional r;
  const char* prev = std::setlocale(LC_ALL, nullptr);
  std::string saved = prev ? prev : "C";
  if (std::setlocale(LC_ALL, "") == nullptr) std::setlocale(LC_ALL, "C");
  const char* dp = nl_langinfo(RADIXCHAR);
  if (dp && dp[0] != '\0' && dp[1] == '\0') r.decimalSeparator = dp[0];
  const char* df = nl_langinfo(D_FMT);
  if (df && *df) r.shortDateFormat = df;
  const char* tf = nl_langinfo(T_FMT);
  if (tf && *tf) r.longTimeFormat = tf;
  r.listSeparator = r.decimalSeparator == ',' ? ';' : ',';
  // Number parsing and formatting elsewhere must not follow the locale.
  std::setlocale(LC_ALL, saved.c_str());
  return r;
}

void Regional::UseStoredSeparators(char list, char decimal) {
  if (decimal != 0) {
    decimalSeparator = decimal;
    decimalFrom = "HostDecimalSeparator";
    if (list == 0) {
      listSeparator = decimal == ',' ? ';' : ',';
      listFrom = decimalFrom;
    }
  }
  if (list != 0) {
    listSeparator = list;
    listFrom = "HostListSeparator";
  }
}

}  // namespace tv::platform
