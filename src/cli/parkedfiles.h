// The files parked in the Unsent folder of the export directory, seen the
// way an export cycle sees them: the same folder and file mask, and the
// scale number read from the name as the cycle reads it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace tv {

struct ParkedFile {
  std::string name;      // as stored: "{GUID}" + base + "%.3u" + extension
  std::string hostPath;  // where it lies on this host
  int scale = 0;         // the scale a cycle delivers it to
  std::string original;  // base + extension: the export file it was copied from
  bool keyboard = false; // an SM700 keyboard layout (".xml")
  uint64_t size = 0;
  std::time_t lastWrite = 0;  // kept from the export file when it was parked
};

// Lists the parked files, oldest first.  False with `error` set when the
// store has no ExportDir to find them in.
bool ListParkedFiles(platform::Registry& reg, std::vector<ParkedFile>& out, std::string& error);

// The Unsent folder on this host and the name pattern a cycle lists it
// with ("*" and the file mask's name part).  False with `error` set as for
// ListParkedFiles.
bool ParkedFolder(platform::Registry& reg, std::string& hostFolder, std::string& pattern,
                  std::string& error);

}  // namespace tv
