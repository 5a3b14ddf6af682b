// The mark a running service keeps beside its store while exporting is
// locked from the network, so that `tovalink status` on the same machine
// can tell.  The lock itself lives only in the service's memory; the mark
// reports it.  A service clears the mark when it starts and when it stops,
// so a mark never outlives the lock it reports.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "platform/env.h"

namespace tv::config {

std::string ExportLockMarkPath(const std::string& storePath);

// Sets or clears the mark.  A failure is logged and otherwise ignored: the
// lock holds or ends either way, only the report of it is missing.
void SetExportLockMark(platform::Env& env, const std::string& storePath, bool locked);

// When exporting was locked; none when there is no mark.
std::optional<std::time_t> ExportLockedSince(platform::Env& env, const std::string& storePath);

}  // namespace tv::config
