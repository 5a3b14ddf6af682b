#include "proc.h"

#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace tv::bench {
namespace {

int64_t Ns(clockid_t c) {
  timespec ts{};
  clock_gettime(c, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::vector<char*> CStrings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (std::string& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// In the child after fork: the extra environment, the output, then exec.
[[noreturn]] void ExecWith(std::vector<std::string> argv, const std::vector<std::string>& env,
                           const std::string& logPath) {
  for (const std::string& kv : env) {
    size_t eq = kv.find('=');
    setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
  }
  int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (out >= 0) {
    dup2(out, 1);
    dup2(out, 2);
  }
  if (in >= 0) dup2(in, 0);
  std::vector<char*> args = CStrings(argv);
  execv(args[0], args.data());
  _exit(127);
}

}  // namespace

int64_t RealtimeNs() { return Ns(CLOCK_REALTIME); }
int64_t MonotonicNs() { return Ns(CLOCK_MONOTONIC); }

double ProcessCpuSeconds(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return 0;
  char buf[1024];
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = 0;
  std::string s(buf);
  size_t at = s.rfind(')');
  if (at == std::string::npos) return 0;
  // After ")": state is field 3; utime and stime are fields 14 and 15.
  unsigned long long utime = 0, stime = 0;
  if (std::sscanf(s.c_str() + at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                  &utime, &stime) != 2) {
    return 0;
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::set<int> AllowedCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::set<int> out;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return out;
  for (int i = 0; i < CPU_SETSIZE; ++i) {
    if (CPU_ISSET(i, &set)) out.insert(i);
  }
  return out;
}

void PinProcess(pid_t pid, const std::set<int>& cpus) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int c : cpus.empty() ? AllowedCpus() : cpus) CPU_SET(c, &set);
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    sched_setaffinity(static_cast<pid_t>(std::atoi(e->d_name)), sizeof set, &set);
  }
  closedir(d);
}

pid_t SpawnCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& logPath) {
  pid_t pid = fork();
  if (pid == 0) ExecWith(argv, env, logPath);
  return pid;
}

bool RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  pid_t pid = SpawnCommand(argv, env, "/dev/null");
  if (pid < 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool WriteFile(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

namespace {

constexpr char kInNamespace[] = "TOVALINK_BENCH_IN_NETNS";

bool OnlyLoopback() {
  struct if_nameindex* names = if_nameindex();
  if (!names) return false;
  bool only = true;
  for (struct if_nameindex* i = names; i->if_index != 0; ++i)
    only = only && std::strcmp(i->if_name, "lo") == 0;
  if_freenameindex(names);
  return only;
}

}  // namespace

bool InLoopbackNamespace(const char* program, const char* netnsRun, int argc, char** argv) {
  if (!getenv(kInNamespace)) {
    setenv(kInNamespace, "1", 1);
    // The shell of netns-run would read /proc/self/exe as itself.
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<char*> args{const_cast<char*>(netnsRun), self.data()};
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execv(args[0], args.data());
    std::fprintf(stderr, "%s: %s: %s\n", program, netnsRun, std::strerror(errno));
    std::exit(1);
  }
  if (OnlyLoopback()) return true;
  std::fprintf(stderr, "%s: not in a network namespace with only loopback\n", program);
  return false;
}

std::string WorkDirectory(const std::string& work, const std::string& prefix) {
  if (!work.empty()) {
    mkdir(work.c_str(), 0755);
    return work;
  }
  std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  return mkdtemp(tmpl.data()) ? tmpl : std::string();
}

}  // namespace tv::bench
