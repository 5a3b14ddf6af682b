#include "platform/service.h"

#include <pwd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/env.h"
#include "platform/log.h"

namespace tv::platform {
void NotifyReady() { sd_notify(0, "READY=1"); }

bool RunBySystemd() {
  const char* id = std::getenv("INVOCATION_ID");
  return (id != nullptr && *id != '\0') || StderrIsJournal();
}

void NotifyStopping() { sd_notify(0, "STOPPING=1"); }
void NotifyReloading() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto usec = static_cast<unsigned long long>(now.tv_sec) * 1000000ULL +
                    static_cast<unsigned long long>(now.tv_nsec / 1000);
  sd_notifyf(0, "RELOADING=1\nMONOTONIC_USEC=%llu", usec);
}
void NotifyStatus(const std::string& status) { sd_notify(0, ("STATUS=" + status).c_str()); }

std::string ExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "tovalink";
  return std::string(buf, static_cast<size_t>(n));
}

std::string UnitDirectory() {
  const char* env = std::getenv("TOVALINK_UNIT_DIR");
  return env && *env ? env : "/etc/systemd/system";
}

Status WriteUnitFile(const std::string& dir, const std::string& name, const std::string& content) {
  Env& env = *Env::Default();
  if (!env.DirectoryExists(dir)) return Refusal("the unit directory " + dir + " does not exist");
  std::string path = dir + "/" + name;
  std::string tmp = dir + "/." + name + ".tmp";
  if (!env.WriteFile(tmp, content).ok() || !env.RenameFile(tmp, path).ok()) {
    const Status failed = Status::IOError("cannot write", path, errno);
    env.RemoveFile(tmp);
    return failed;
  }
  return Status::OK();
}

Status RemoveUnitFile(const std::string& dir, const std::string& name) {
  std::string path = dir + "/" + name;
  Env& env = *Env::Default();
  if (!env.FileExists(path))
    return Refusal("the service is not installed (" + path + " does not exist)");
  if (!env.RemoveFile(path).ok()) return Status::IOError("cannot remove", path, errno);
  return Status::OK();
}

bool SystemctlAvailable() {
  return access("/usr/bin/systemctl", X_OK) == 0 || access("/bin/systemctl", X_OK) == 0;
}

bool RunSystemctl(const std::string& args) {
  if (!SystemctlAvailable()) return true;
  std::string cmd = "systemctl " + args + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

bool SystemUserExists(const std::string& name) { return getpwnam(name.c_str()) != nullptr; }

bool CreateSystemUser(const std::string& name, const std::string& home) {
  std::string cmd = "useradd --system --user-group --no-create-home --home-dir '" + home +
                    "' --shell /usr/sbin/nologin '" + name + "' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

bool RemoveSystemUser(const std::string& name) {
  std::string cmd = "userdel '" + name + "' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

}  // namespace tv::platform
