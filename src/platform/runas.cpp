#include "platform/runas.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tv::platform {
namespace {

// The owner's own groups too, as the service gets them when it starts as
// that user (SupplementaryGroups aside).
bool DropTo(uid_t uid, gid_t gid) {
  const passwd* pw = ::getpwuid(uid);
  const int groups = pw != nullptr ? ::initgroups(pw->pw_name, gid) : ::setgroups(0, nullptr);
  return groups == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0 && ::getuid() == uid;
}

std::string ReadAll(int fd) {
  std::string out;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      return out;
    }
  }
}

}  // namespace

bool RunAsOwnerOf(const std::string& path, const std::function<std::string()>& work,
                  std::string& result, std::string& error) {
  struct stat st {};
  if (::geteuid() != 0 || ::stat(path.c_str(), &st) != 0 || st.st_uid == 0) {
    result = work();
    return true;
  }
  int fds[2];
  if (::pipe(fds) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (pid == 0) {
    ::close(fds[0]);
    if (!DropTo(st.st_uid, st.st_gid)) ::_exit(2);
    const std::string text = work();
    const ssize_t written = ::write(fds[1], text.data(), text.size());
    ::_exit(written == static_cast<ssize_t>(text.size()) ? 0 : 3);
  }
  ::close(fds[1]);
  result = ReadAll(fds[0]);
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  error = "the check as user " + std::to_string(st.st_uid) + " did not finish" +
          (WIFEXITED(status) && WEXITSTATUS(status) == 2 ? ": its rights could not be taken" : "");
  return false;
}

}  // namespace tv::platform
