#include "platform/stateowner.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/fs.h"

namespace tv::platform {
namespace {

std::string UserName(uid_t uid) {
  const passwd* pw = getpwuid(uid);
  return pw ? pw->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group* gr = getgrgid(gid);
  return gr ? gr->gr_name : std::to_string(gid);
}

}  // namespace

Status ActAsOwnerOf(const std::string& dir, std::string* who) {
  who->clear();
  struct stat st {};
  if (geteuid() != 0 || ::stat(dir.c_str(), &st) != 0 || st.st_uid == 0) return Status::OK();
  gid_t gid = st.st_gid;
  const passwd* pw = getpwuid(st.st_uid);
  if (pw) gid = pw->pw_gid;
  const int groups = pw ? initgroups(pw->pw_name, gid) : setgroups(0, nullptr);
  if (groups != 0 || setresgid(gid, gid, gid) != 0 ||
      setresuid(st.st_uid, st.st_uid, st.st_uid) != 0)
    return Status::IOError("act as the owner of", dir, errno);
  *who = UserName(st.st_uid);
  return Status::OK();
}

std::string StoreWriteProblem(const std::string& path) {
  std::string dir = ExtractFilePath(path);
  if (dir.size() > 1) dir.pop_back();
  for (const std::string& f : {dir, path, path + "-wal", path + "-shm", path + "-journal"}) {
    struct stat st {};
    if (f.empty() || ::stat(f.c_str(), &st) != 0 || ::access(f.c_str(), W_OK) == 0) continue;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    const std::string me = UserName(geteuid()) + ":" + GroupName(getegid());
    return f + " belongs to " + UserName(st.st_uid) + ":" + GroupName(st.st_gid) + " (mode " +
           mode + ") and this process runs as " + me + ": as root, chown " + me + " " + f;
  }
  return "";
}

std::string StateDirectoryAccessProblem(const std::string& path) {
  std::string dir = path;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || st.st_uid == geteuid() ||
      ::access(dir.c_str(), W_OK | X_OK) == 0)
    return "";
  return "the state directory " + dir + " belongs to " + UserName(st.st_uid) +
         ": run the command as root or as " + UserName(st.st_uid);
}

}  // namespace tv::platform
