// `tovalink check --network`: each scale of the list tried as a cycle would
// reach it (ping, the goods port and, for an SM700, the keyboard port), so
// that a wrong address, a scale switched off and a firewall are told apart
// before the first export.
#pragma once

#include <ostream>
#include <string>

#include "platform/registry.h"

namespace tv {

// One line per scale; false when any scale is not reachable on a port it
// needs.  The probes run one after the other, each within its time-out.
bool CheckScaleNetwork(platform::Registry& reg, std::ostream& out);

}  // namespace tv
