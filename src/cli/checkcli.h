// `tovalink check`: prints the store check (engine/storecheck.h) one finding
// a line, so that an operator sees every problem before the service does.
#pragma once

#include <ostream>

#include "engine/storecheck.h"

namespace tv {

// "error: ...", "warning: ...", "ok: ..." lines and a closing count.
void PrintCheckReport(const TCheckReport& report, std::ostream& out);

// `tovalink check`: exit 0 when the store passes, 1 otherwise, 2 on a
// usage error; --help prints the usage.
int RunCheckCommand(int argc, char** argv, std::ostream& out, std::ostream& err);
int RunCheckCommand(int argc, char** argv);

}  // namespace tv
