// GUID generation in the 38-character registry form "{XXXXXXXX-XXXX-...}".
#pragma once

#include <string>

namespace tv::platform {

// A fresh random GUID: "{", 32 upper-case hex digits grouped 8-4-4-4-12, "}".
std::string NewGuidText();

}  // namespace tv::platform
