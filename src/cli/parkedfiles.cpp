#include "cli/parkedfiles.h"

#include <algorithm>

#include "config/storeaccess.h"
#include "config/storedvalues.h"
#include "files/fileproc.h"
#include "files/parkedname.h"
#include "platform/env.h"
#include "platform/fs.h"

namespace tv {
namespace {

// Only the exact lower-case extension marks a keyboard file, as in a cycle.
bool IsKeyboardName(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && name.compare(dot, std::string::npos, ".xml") == 0;
}

bool ReadFolderSettings(platform::Registry& reg, std::string& exportDir, std::string& mask) {
  platform::RegistryKey key = reg.OpenReadOnly(kProductKey);
  if (!key) return false;
  try {
    exportDir = config::ReadString(key, config::kExportDir);
    mask = config::ReadString(key, config::kFileMask);
  } catch (const platform::RegistryError&) {
    exportDir.clear();
  }
  return !exportDir.empty();
}

}  // namespace

bool ParkedFolder(platform::Registry& reg, std::string& hostFolder, std::string& pattern,
                  std::string& error) {
  std::string exportDir, mask;
  if (!ReadFolderSettings(reg, exportDir, mask)) {
    error = "the store has no " + std::string(config::kExportDir.name) +
            " (has the service or `tovalink reg add` written the settings?)";
    return false;
  }
  hostFolder = platform::MapPath(exportDir + "\\Unsent");
  pattern = "*" + platform::ExtractFileName(mask);
  return true;
}

bool ListParkedFiles(platform::Registry& reg, std::vector<ParkedFile>& out, std::string& error) {
  out.clear();
  std::string folder, pattern;
  if (!ParkedFolder(reg, folder, pattern, error)) return false;
  // The pattern a cycle lists the folder with.
  std::vector<platform::FoundFile> found;
  platform::FindFiles(folder + "/" + pattern, found);
  for (const platform::FoundFile& f : found) {
    // A cycle skips directories and hidden names (copies being written).
    if (f.isDirectory || f.name.empty() || f.name[0] == '.') continue;
    ParkedFile p;
    p.name = f.name;
    p.hostPath = folder + "/" + f.name;
    p.scale = CFiles::ScaleNumberFromFileName(f.name);
    p.original = OriginalNameOfParked(f.name);
    p.keyboard = IsKeyboardName(f.name);
    p.lastWrite = f.lastWrite;
    platform::FileInfo info;
    p.size = platform::Env::Default()->GetFileInfo(p.hostPath, &info).ok() ? info.size : 0;
    out.push_back(p);
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const ParkedFile& a, const ParkedFile& b) { return a.lastWrite < b.lastWrite; });
  return true;
}

}  // namespace tv
