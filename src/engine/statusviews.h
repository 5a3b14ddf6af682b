// The two views an outside watcher gets of what `tovalink status` reads:
// Prometheus text exposition for a scraper and a plain HTML page for the
// shop manager's browser.  Both are rendered from one TLocalStatus, so they
// never disagree with each other or with the command.
#pragma once

#include <ctime>
#include <string>

#include "engine/statuslocal.h"

namespace tv {

// Prometheus text format 0.0.4; `now` gives the parked files' ages.
std::string RenderMetrics(const TLocalStatus& status, std::time_t now);

// A read-only page that reloads itself; every text in it is escaped.
std::string RenderStatusPage(const TLocalStatus& status, std::time_t now);

std::string HtmlEscape(const std::string& text);

}  // namespace tv
