// Writes a decoded parameter block into the configuration store: the
// fifteen remote values of the product key, then the five device tables,
// each deleted and created again.
#pragma once

#include "paramserver/paramblock.h"
#include "platform/registry.h"

namespace tv {

// False at the first failure; what was written before it stays written.
// A device table that does not exist fails the write, as the deletion that
// precedes its rewrite fails.  Each key sequence holds the store lock on its
// own, so the engine may read between two of them.
bool WriteBlockToStore(platform::GuardedRegistry& registry, const TParamBlock& block);

}  // namespace tv
