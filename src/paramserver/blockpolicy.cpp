#include "paramserver/blockpolicy.h"

#include <algorithm>

#include "config/storeaccess.h"
#include "config/storedpath.h"
#include "config/storedvalues.h"
#include "platform/env.h"
#include "platform/fs.h"

namespace tv {
namespace {

bool HasControlCharacter(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

// Symbolic links resolved as far as the path exists, "." and ".." also
// beyond; no trailing separator.  A path that cannot be resolved is judged
// by its written form.
std::string Normalised(const std::string& hostPath) {
  std::string resolved;
  platform::Env::Default()->ResolvePath(hostPath, &resolved);
  return resolved;
}

// Whole components only: /srv/export2 is not within /srv/export.
bool Within(const std::string& path, const std::string& root) {
  if (path.compare(0, root.size(), root) != 0) return false;
  return path.size() == root.size() || root.back() == '/' || path[root.size()] == '/';
}

// The directory holding `path`; the root holds itself.
std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string DirectoryRefusal(const char* name, const std::string& stored,
                             const std::vector<std::string>& roots) {
  if (stored.empty()) return std::string(name) + " is empty";
  if (config::IsNetworkSharePath(stored)) return config::NetworkShareRefusal(name, stored);
  const std::string path = Normalised(platform::MapPath(stored));
  if (platform::Env::Default()->FileExists(path))
    return std::string(name) + " \"" + stored + "\" names a file, not a directory";
  for (const std::string& root : roots)
    if (!root.empty() && Within(path, Normalised(root))) return {};
  return std::string(name) + " \"" + stored + "\" (" + path +
         ") lies outside the allowed directories (AllowedRoots)";
}

}  // namespace

platform::Status BlockRefusal(const TParamBlock& b, const std::vector<std::string>& roots) {
  const std::pair<const char*, const std::string*> strings[] = {
      {"ExportDir", &b.ExportDir}, {"LogoDir", &b.LogoDir}, {"FileMask", &b.FileMask}, {"BarPrefix", &b.BarPrefix}};
  for (const auto& [name, value] : strings)
    if (HasControlCharacter(*value))
      return platform::Refusal(std::string(name) + " holds a control character");
  std::string refusal = DirectoryRefusal("ExportDir", b.ExportDir, roots);
  if (refusal.empty()) refusal = DirectoryRefusal("LogoDir", b.LogoDir, roots);
  return refusal.empty() ? platform::Status::OK() : platform::Refusal(refusal);
}

std::vector<std::string> StoredAllowedRoots(platform::Registry& reg) {
  std::vector<std::string> roots;
  platform::RegistryKey key = reg.OpenReadOnly(kProductKey);
  if (!key) return roots;
  const std::string text = config::ReadString(key, config::kAllowedRoots);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(start, end - start);
    // A relative entry would depend on the service's working directory.
    const std::string root = config::IsNetworkSharePath(part) ? std::string() : platform::MapPath(part);
    if (!root.empty() && root[0] == '/') roots.push_back(root);
    start = end + 1;
  }
  return roots;
}

std::vector<std::string> DefaultAllowedRoots(const std::string& exportDir, const std::string& logoDir) {
  std::vector<std::string> roots = {platform::StateHome()};
  for (const std::string* dir : {&exportDir, &logoDir}) {
    if (dir->empty() || config::IsNetworkSharePath(*dir)) continue;
    roots.push_back(ParentOf(Normalised(platform::MapPath(*dir))));
  }
  return roots;
}

}  // namespace tv
