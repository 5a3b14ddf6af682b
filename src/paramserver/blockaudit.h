// What a parameter block changed, for the audit line of the exchange: the
// values a block writes, read from the store before and after the write,
// and their difference as "name old -> new" in the order a block writes
// them.  Reading the store after the write, rather than trusting the block,
// also tells what a write that failed part-way did change.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace tv {

// Name and text of every value a block writes; a scale table is one entry,
// its entries joined by ",".  A value the store lacks reads "(unset)".
using TBlockValues = std::vector<std::pair<std::string, std::string>>;

TBlockValues ReadBlockValues(platform::GuardedRegistry& registry);

// "VerInterval 10 -> 30, Devices 91 -> 11,12; 18 values unchanged", or
// "no value changed".
std::string DescribeChanges(const TBlockValues& before, const TBlockValues& after);

}  // namespace tv
