#include "platform/caller.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace tv::platform {

std::string CallerText() {
  const uid_t uid = ::getuid();
  const passwd* pw = ::getpwuid(uid);
  std::string text = "uid " + std::to_string(uid) + " (" + (pw ? pw->pw_name : "no name") + ")";
  // Only root's SUDO_USER is sudo's word; any other user can set it.
  const char* sudo = std::getenv("SUDO_USER");
  if (uid == 0 && sudo && *sudo) text += ", through sudo by " + std::string(sudo);
  return text;
}

}  // namespace tv::platform
