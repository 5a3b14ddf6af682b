// The values `tovalink explain` encodes a file with: the store's when one
// can be read (values it lacks take the first start's defaults), else the
// defaults alone, then what the command line changes.  Reading never
// writes: no store is created and no directory made.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/storedvalues.h"
#include "platform/regional.h"
#include "scale/scaleprofile.h"

namespace tv {

// What the command line asks for; unset members keep the store's values.
struct TExplainOptions {
  std::optional<int> scale;  // take this listed scale's own values
  std::optional<uint8_t> importType;
  std::optional<uint8_t> scaleType;
  std::optional<uint8_t> barcodeType;
  std::optional<bool> useByInDays;
  std::optional<bool> constBarcode;
  std::map<std::string, std::string> stored;  // --set NAME=VALUE, product key values
  std::optional<char> localeList;             // the host's separators
  std::optional<char> localeDecimal;
};

struct TExplainProfile {
  TScaleProfile profile;
  platform::Regional host;
  std::string source;  // where the values came from, for the header
  std::string scale;   // whose per-scale values are used
  std::vector<std::string> notes;
};

// Builds the profile for `options` from the store at `storePath`.  False
// with the reason in `error` for an option the store cannot satisfy (a
// scale not in the list, an unknown value name, data of the wrong type).
bool BuildExplainProfile(const std::string& storePath, const TExplainOptions& options,
                         TExplainProfile& out, std::string& error);

}  // namespace tv
