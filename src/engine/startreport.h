// The lines the service writes when it starts: what it runs with and where
// each setting came from, so that `journalctl -u tovalink` answers "which
// directory, which separators, which scales" without opening the store.
#pragma once

#include <string>

namespace tv {

class TEngine;

// The locale that decides a category, as the C library resolves it from
// the environment (LC_ALL, then the category's variable, then LANG), e.g.
// "de_DE.UTF-8"; "C" when none is set.  A name the system does not have
// comes back as "C (de_DE.UTF-8 is not installed)".
std::string EffectiveLocale(const char* categoryVariable);
// True for the C and POSIX locales, whose separators are rarely the shop's.
bool IsPlainLocale(const std::string& locale);

// One line of the form "list separator ';' (stored ListSeparator)",
// "decimal separator ',' (locale de_DE.UTF-8)" or, with the stored value
// that stands in for the host's, "list separator ';' (stored HostListSeparator)".
std::string SeparatorSource(const char* what, char stored, char host, const char* storedName,
                            const char* hostFrom = nullptr);

void LogStartReport(TEngine& engine);

}  // namespace tv
