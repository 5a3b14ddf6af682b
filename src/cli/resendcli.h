// `tovalink resend`: gives a scale again every goods record the ledger says
// it (or a neighbour) holds, as a parked copy that the service delivers by
// the usual order, hold-back and retry rules.  Nothing is written unless
// every record is proved to come out of its line with the same bytes.
#pragma once

#include <iosfwd>

namespace tv {

int RunResendCommand(int argc, char** argv);
int RunResendCommand(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace tv
