// `tovalink check`: reads the store the way the service will and names every
// value that would stop it from starting or from delivering, one line each.
// Never writes: a missing store is not created.
#pragma once

#include <string>
#include <vector>

#include "platform/regional.h"
#include "platform/registry.h"

namespace tv {

enum class TCheckLevel { Note, Warning, Error };

struct TCheckFinding {
  TCheckLevel level;
  std::string text;
};

struct TCheckReport {
  std::string storePath;
  std::vector<TCheckFinding> findings;
  // True when the service could start and deliver with this store.
  bool Passed() const;
  int Count(TCheckLevel level) const;
};

TCheckReport CheckStore(const std::string& storePath, const platform::Regional& host);

// The same rules on a store already open, as this connection sees it (its
// own transaction's writes included): for judging a change before it is
// committed.  Neither the file nor its rights are looked at.
void CheckOpenStore(platform::Registry& reg, const platform::Regional& host, TCheckReport& report);

}  // namespace tv
