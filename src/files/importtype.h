// The layouts of goods files, chosen by the setting ImportType.  Any other
// value reads no line.
#pragma once

#include <cstdint>

namespace tv {

enum TImportType : uint8_t {
  itFixed = 0,      // fixed-width goods lines of 132 characters
  itDelimited = 1,  // separated fields, two goods layouts told by their count
  itExtended = 2,   // separated fields with label format and goods text
};

}  // namespace tv
