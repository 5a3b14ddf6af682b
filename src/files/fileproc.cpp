#include "files/fileproc.h"

#include "files/fileproc_util.h"
#include "platform/fs.h"

namespace tv {

namespace fileproc {

std::string DirectoryPart(const std::string& path) { return platform::ExtractFilePath(path); }

std::string UnsentFolder(const std::string& directoryPart) {
  const bool posix = !directoryPart.empty() && directoryPart.back() == '/';
  return directoryPart + "Unsent" + (posix ? '/' : '\\');
}

}  // namespace fileproc

CFiles::CFiles(const TSettingsHolder& settings, platform::Regional host, const platform::Clock& clock,
               platform::Env& env)
    : settings_(settings), host_(std::move(host)), clock_(clock), env_(env) {}

char CFiles::ListSeparator() const { return host_.listSeparator != 0 ? host_.listSeparator : ','; }

}  // namespace tv
