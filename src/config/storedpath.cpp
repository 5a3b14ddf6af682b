#include "config/storedpath.h"

namespace tv::config {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool IsNetworkSharePath(const std::string& stored) {
  return stored.size() >= 2 && IsSeparator(stored[0]) && IsSeparator(stored[1]);
}

std::string NetworkShareRefusal(const std::string& name, const std::string& stored) {
  return name + " \"" + stored + "\" is a network share: mount the share and store its mount point instead";
}

}  // namespace tv::config
