// Writes a decoded parameter block into the configuration store: the
// fifteen remote values of the product key, then the five device tables,
// each deleted and created again.
#pragma once

#include "paramserver/paramblock.h"
#include "platform/registry.h"

namespace tv {

// All or nothing, in one store transaction under the store lock: false at
// the first failure, and then nothing of the block is written.  A device
// table that does not exist fails the write, as the deletion that precedes
// its rewrite fails.
bool WriteBlockToStore(platform::GuardedRegistry& registry, const TParamBlock& block);

}  // namespace tv
