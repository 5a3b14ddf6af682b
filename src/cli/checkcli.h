// `tovalink check`: prints the store check (engine/storecheck.h) one finding
// a line, so that an operator sees every problem before the service does.
#pragma once

#include <cstdio>

#include "engine/storecheck.h"

namespace tv {

// "error: ...", "warning: ...", "ok: ..." lines and a closing count.
void PrintCheckReport(const TCheckReport& report, std::FILE* out);

// `tovalink check`: exit 0 when the store passes, 1 otherwise.
int RunCheckCommand(int argc, char** argv);

}  // namespace tv
