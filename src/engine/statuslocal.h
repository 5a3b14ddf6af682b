// What `tovalink status` adds when it asks this machine's own service, and
// all the metrics listener shows (one reader, two views): the
// per-scale history from the delivery log, the files parked per scale in the
// Unsent folder, the files waiting in the export directory and whether
// exporting is locked.  Read from
// the store and the files only; nothing is created or changed.
#pragma once

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/servicefacts.h"

namespace tv {

struct TScaleHistory {
  int lastCode = -1;        // -1: the delivery log has no line for the scale
  std::string lastAttempt;  // "date time" as the log writes it
  std::string lastSuccess;  // empty: never delivered
  int parked = 0;
  std::time_t oldestParked = 0;  // last-write time of the oldest parked file
};

struct TLocalStatus {
  std::string addressPrefix;
  std::optional<int> filesWaiting;  // none when the export directory cannot be listed
  std::optional<std::time_t> exportsLockedSince;  // none when exporting is not locked
  std::map<int, TScaleHistory> scales;
  // Delivered files the service could not remove and does not deliver
  // again while they stay unchanged (host paths).
  std::vector<std::string> undeletable;
  // What the running service wrote of what blocks delivery; none when it
  // wrote nothing (a service of an older version).
  std::optional<TFactsRecord> facts;

  const TScaleHistory* Find(int number) const {
    auto it = scales.find(number);
    return it == scales.end() ? nullptr : &it->second;
  }
};

// Reads the local store at `storePath`, the service's facts beside it and
// the files the store names; empty when
// the store does not exist or cannot be read.
std::optional<TLocalStatus> ReadLocalStatus(const std::string& storePath);

// Splits one delivery-log line into its time text, address and code.  The
// date format may itself hold commas, so the address is found as the field
// that starts with `prefix` and is followed by a number.
bool ParseLogLine(const std::string& line, const std::string& prefix, std::string& when, std::string& address,
                  int& code);

}  // namespace tv
