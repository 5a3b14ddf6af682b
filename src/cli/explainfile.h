// The two kinds of export file as `tovalink explain` reads them: a goods
// file through the same parser and encoder as a delivery, a keyboard file
// through the same reader and record builders as an upload.  Nothing is
// sent anywhere.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/explainprofile.h"
#include "cli/explainreport.h"

namespace tv {

void ExplainGoodsFile(const std::string& bytes, const TExplainProfile& values,
                      TExplainReport& report);
// `sm700`: the SM700 scales of the list, which receive a keyboard file;
// none when the store could not be read.
void ExplainKeyboardFile(const std::string& bytes, const std::optional<std::vector<int>>& sm700,
                         TExplainReport& report);

}  // namespace tv
