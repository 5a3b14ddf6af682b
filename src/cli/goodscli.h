// `tovalink goods`: what a scale holds by the delivery ledger, and what a
// goods file would change on it.  Both read only: the ledger and the store
// are opened for reading and nothing is sent.
#pragma once

#include <iosfwd>

namespace tv {

int RunGoodsCommand(int argc, char** argv);
int RunGoodsCommand(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace tv
