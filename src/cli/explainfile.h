// The two kinds of export file as `tovalink explain` reads them: a goods
// file through the same parser and encoder as a delivery, a keyboard file
// through the same reader and record builders as an upload.  Nothing is
// sent anywhere.
#pragma once

#include <string>

#include "cli/explainprofile.h"
#include "cli/explainreport.h"

namespace tv {

void ExplainGoodsFile(const std::string& bytes, const TExplainProfile& values,
                      TExplainReport& report);
void ExplainKeyboardFile(const std::string& bytes, TExplainReport& report);

}  // namespace tv
