#include "service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

#include "proc.h"

namespace tv::bench {
namespace {

const char kProductKey[] = "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+";
const char* const kTables[] = {"Devices", "DeviceTypes", "DeviceBarcodeTypes", "DeviceUseByInDays",
                               "DeviceConstBC"};

// The status port answers once the service has started completely.
bool StatusAnswers() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(3058);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  const uint8_t query = 1;
  uint8_t reply[16];
  ok = ok && send(fd, &query, 1, MSG_NOSIGNAL) == 1 && recv(fd, reply, sizeof reply, 0) > 0;
  close(fd);
  return ok;
}

// Lines (CR LF) of the log from byte `from` on, and their codes all 0.
size_t CountLines(const std::string& path, off_t from, bool& allDelivered) {
  allDelivered = true;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::fseek(f, from, SEEK_SET);
  size_t lines = 0;
  std::string line;
  for (int c; (c = std::fgetc(f)) != EOF;) {
    if (c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    ++lines;
    // date,time,address,code,file
    size_t comma = 0;
    for (int i = 0; i < 3 && comma != std::string::npos; ++i)
      comma = line.find(',', comma + (i ? 1 : 0));
    if (comma == std::string::npos || line.compare(comma, 3, ",0,") != 0) allDelivered = false;
    line.clear();
  }
  std::fclose(f);
  return lines;
}

off_t SizeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

int64_t MtimeNs(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

TService::TService(std::string binary, std::string work)
    : binary_(std::move(binary)),
      work_(std::move(work)),
      home_(work_ + "/home"),
      export_(work_ + "/export"),
      logDir_(work_ + "/log"),
      logFile_(logDir_ + "/sclogo.csv") {}

TService::~TService() { Stop(); }

std::vector<std::string> TService::Env() const {
  return {"TOVALINK_HOME=" + home_, "LC_ALL=C", "LANG=C", "TZ=UTC"};
}

bool TService::Tovalink(const std::vector<std::string>& args) {
  std::vector<std::string> argv{binary_};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv, Env());
}

bool TService::Reg(const std::string& key, const std::string& name, const std::string& type,
                   const std::string& data) {
  return Tovalink({"reg", "add", key, "/v", name, "/t", type, "/d", data, "/f"});
}

bool TService::Configure(int maxScales, int scales, int portBase) {
  for (const std::string& d : {home_, export_, logDir_}) mkdir(d.c_str(), 0755);
  // The first command writes the store's defaults; the address prefix is
  // the first value replaced, before any cycle could read it.
  bool ok = Reg(kProductKey, "IPAdress", "REG_SZ", "127.0.0.") &&
            Reg(kProductKey, "SocketPort", "REG_DWORD", std::to_string(portBase)) &&
            Reg(kProductKey, "VerInterval", "REG_DWORD", "1") &&
            Reg(kProductKey, "TextToOEM", "REG_DWORD", "1") &&
            Reg(kProductKey, "ExportDir", "REG_SZ", export_) &&
            Reg(kProductKey, "LogoDir", "REG_SZ", logDir_) &&
            Reg(kProductKey, "MonitorIP", "REG_SZ", "127.0.0.1") &&
            Tovalink({"scale", "remove", "91"});
  for (int n = 1; ok && n <= maxScales; ++n)
    ok = Tovalink({"scale", "add", std::to_string(n), "--type", "Bench", "--barcode-type", "5"});
  return ok && SetScaleCount(scales);
}

bool TService::SetScaleCount(int scales) {
  for (const char* table : kTables) {
    if (!Reg(std::string(kProductKey) + "\\" + table, "TotalNumber", "REG_DWORD",
             std::to_string(scales)))
      return false;
  }
  scales_ = scales;
  return true;
}

bool TService::Start() {
  pid_ = SpawnCommand({binary_}, Env(), work_ + "/service.log");
  return pid_ > 0 && WaitUntilListening();
}

bool TService::WaitUntilListening() {
  const int64_t deadline = MonotonicNs() + 20LL * 1000000000;
  while (MonotonicNs() < deadline) {
    if (StatusAnswers()) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    usleep(20000);
  }
  return false;
}

void TService::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

bool TService::SetValue(const std::string& name, uint32_t value) {
  return Reg(kProductKey, name, "REG_DWORD", std::to_string(value));
}

TDelivery TService::Deliver(const std::string& data, int deadlineS) {
  TDelivery d;
  const off_t logStart = SizeOf(logFile_);
  int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  inotify_add_watch(watch, logDir_.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE);
  inotify_add_watch(watch, export_.c_str(), IN_DELETE | IN_MOVED_FROM);
  char name[32];
  std::snprintf(name, sizeof name, "/goods%05d.txt", ++drops_);
  const std::string tmp = export_ + "/.incoming.tmp", path = export_ + name;
  if (!WriteFile(tmp, data)) return d;
  const double cpu0 = ProcessCpuSeconds(pid_);
  rename(tmp.c_str(), path.c_str());
  d.dropNs = RealtimeNs();
  const int64_t deadline = MonotonicNs() + deadlineS * 1000000000LL;
  bool delivered = false;
  for (;;) {
    if (d.logNs == 0 && CountLines(logFile_, logStart, delivered) >= static_cast<size_t>(scales_))
      d.logNs = MtimeNs(logFile_);
    if (d.logNs != 0 && !Exists(path)) break;
    int64_t left = (deadline - MonotonicNs()) / 1000000;
    if (left <= 0) break;
    pollfd p{watch, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 1000))) > 0) {
      char events[4096];
      while (read(watch, events, sizeof events) > 0) {
      }
    }
  }
  d.cpuS = ProcessCpuSeconds(pid_) - cpu0;
  close(watch);
  d.ok = d.logNs != 0 && delivered && !Exists(path);
  return d;
}

}  // namespace tv::bench
