// A shop in a box for end-to-end tests: a state directory with a configured
// store, simulated scales on 127.0.0.n, and the real tovalink binary.  The
// test binary runs in a network namespace of its own, so all of it stays on
// loopback.
#pragma once

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>

#include "config/settings.h"
#include "engine/engine_config.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/net.h"
#include "platform/registry.h"
#include "scalesim/sim_scale.h"
#include "testutil.h"

namespace tv::test {

// Goods go to SocketPort + n; keyboard uploads always to 2000 + n.
constexpr int kGoodsPortBase = 3000;
constexpr int kKeyboardPortBase = 2000;

struct LogLine {
  std::string address;
  int code = -1;
  std::string file;
};

class Site {
 public:
  Site() {
    exportDir = home / "export";
    logDir = home / "log";
    platform::Registry reg(StorePath());
    CreateDefaults(reg);
    platform::RegistryKey product = reg.Open(kProductKey, false);
    product.WriteString("IPAdress", "127.0.0.");
    product.WriteInteger("SocketPort", kGoodsPortBase);
    product.WriteInteger("VerInterval", 1);
    product.WriteString("ExportDir", exportDir);
    product.WriteString("LogoDir", logDir);
  }
  ~Site() { Stop(); }

  std::string StorePath() const { return home / "registry.db"; }

  // Rewrites the five scale tables; types default to Bench.
  void SetScales(const std::vector<int>& numbers, const std::vector<int>& types = {}) {
    platform::Registry reg(StorePath());
    const char* keys[] = {kDevicesKey, kDeviceTypesKey, kDeviceBarcodeTypesKey, kDeviceUseByInDaysKey,
                          kDeviceConstBCKey};
    for (const char* key : keys) {
      reg.DeleteKey(key);
      platform::RegistryKey table = reg.Open(key, true);
      table.WriteInteger("TotalNumber", static_cast<int32_t>(numbers.size()));
      for (size_t i = 0; i < numbers.size(); ++i) {
        int v = 0;
        if (key == kDevicesKey) v = numbers[i];
        if (key == kDeviceTypesKey) v = i < types.size() ? types[i] : 1;
        if (key == kDeviceBarcodeTypesKey) v = 5;
        table.WriteInteger("Scale" + std::to_string(i + 1), v);
      }
    }
  }

  void SetValue(const char* name, int32_t v) {
    platform::Registry reg(StorePath());
    reg.Open(kProductKey, false).WriteInteger(name, v);
  }
  void SetString(const char* name, const std::string& v) {
    platform::Registry reg(StorePath());
    reg.Open(kProductKey, false).WriteString(name, v);
  }

  // `keyboard` false leaves the scale's keyboard port closed.
  sim::SimScale& AddScale(int n, sim::Behaviour b = {}, bool keyboard = true) {
    auto s = std::make_unique<sim::SimScale>("127.0.0." + std::to_string(n),
                                             static_cast<uint16_t>(kGoodsPortBase + n),
                                             static_cast<uint16_t>(keyboard ? kKeyboardPortBase + n : 0), b);
    scales.erase(n);
    EXPECT_TRUE(s->Start()) << "scale " << n;
    auto& ref = *s;
    scales[n] = std::move(s);
    return ref;
  }
  sim::SimScale& Scale(int n) { return *scales.at(n); }

  // The scale list {healthy, refusing}: the first takes every frame, the
  // second answers every goods record with NAK.
  void AddHealthyAndRefusing(int healthy, int refusing) {
    sim::Behaviour refuse;
    refuse.goodsAnswer = 0x15;
    AddScale(healthy);
    AddScale(refusing, refuse);
    SetScales({healthy, refusing});
  }

  void Start(std::vector<std::string> extraEnv = {}) {
    std::vector<std::string> env = {"TOVALINK_HOME=" + home.Path(), "LANG=C", "LC_ALL=C"};
    if (!quietMs.empty()) env.push_back("TOVALINK_TEST_QUIET_MS=" + quietMs);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<std::string> args = launcher;
    args.push_back(TovalinkBinary());
    service = std::make_unique<Process>(args, env);
  }
  // SIGTERM and wait; the exit code, or -1 when it did not end in time.
  int Stop(int timeoutMs = 60000) {
    if (!service) return 0;
    service->Signal(SIGTERM);
    int code = service->Wait(timeoutMs) ? service->ExitCode() : -1;
    output = service->Output();
    service.reset();
    return code;
  }

  // SIGKILL: the service gets no chance to tidy up.
  void Kill() {
    if (!service) return;
    service->Signal(SIGKILL);
    service->Wait(10000);
    output = service->Output();
    service.reset();
  }

  // Written under a hidden name and renamed into place, as a back office
  // should, so the service never meets the file half-written.
  void Drop(const std::string& name, const std::string& content) {
    const std::string hidden = exportDir + "/." + name + ".part";
    WriteFile(hidden, content);
    ASSERT_EQ(::rename(hidden.c_str(), (exportDir + "/" + name).c_str()), 0) << name;
  }
  // Written in place and kept open, as by a writer still at work: neither
  // renamed in nor closed, so only its quiet period can admit it.
  std::unique_ptr<FILE, int (*)(FILE*)> WriteKeptOpen(const std::string& name,
                                                      const std::string& content) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen((exportDir + "/" + name).c_str(), "wb"),
                                            &std::fclose);
    EXPECT_NE(f, nullptr) << name;
    if (f) {
      std::fputs(content.c_str(), f.get());
      std::fflush(f.get());
    }
    return f;
  }
  // The service's output so far, while it runs.
  std::string Output() { return service ? service->Output() : output; }

  std::vector<std::string> Rejected() const {
    std::vector<std::string> names;
    std::vector<platform::FoundFile> found;
    platform::Env::Default()->FindFiles(exportDir + "/Rejected/*", &found);
    // As the back office sees the folder: the reasons kept beside the
    // files are hidden.
    for (const auto& f : found)
      if (!f.isDirectory && f.name[0] != '.') names.push_back(f.name);
    return names;
  }

  std::vector<LogLine> Log() const {
    std::vector<LogLine> out;
    for (const std::string& line : Lines(ReadFile(logDir + "/sclogo.csv"))) {
      std::vector<std::string> f;
      std::stringstream in(line);
      for (std::string part; std::getline(in, part, ',');) f.push_back(part);
      if (line.back() == ',') f.push_back("");
      if (f.size() < 5) continue;
      out.push_back(LogLine{f[2], std::stoi(f[3]), f[4]});
    }
    return out;
  }
  bool WaitForLog(size_t n, int timeoutMs = 30000) const {
    return WaitUntil([&] { return Log().size() >= n; }, timeoutMs);
  }

  std::vector<std::string> Unsent() const {
    std::vector<std::string> names;
    std::vector<platform::FoundFile> found;
    platform::Env::Default()->FindFiles(exportDir + "/Unsent/*", &found);
    for (const auto& f : found)
      if (!f.isDirectory) names.push_back(f.name);
    return names;
  }

  std::map<std::string, int> Results() const {
    std::map<std::string, int> out;
    platform::Registry reg(StorePath());
    platform::RegistryKey results = reg.OpenReadOnly(kDeviceResultsKey);
    if (!results) return out;
    for (const auto& v : results.ListValues()) out[v.name] = static_cast<int>(v.number);
    return out;
  }

  TempDir home;
  std::string exportDir;
  std::string logDir;
  std::map<int, std::unique_ptr<sim::SimScale>> scales;
  std::unique_ptr<Process> service;
  std::string output;
  // Files dropped by rename need no quiet period; empty: the service's own.
  std::string quietMs = "0";
  // Put before the binary, e.g. setpriv to run the service as another user.
  std::vector<std::string> launcher;
};

// A small goods file in the fixed-width layout: one deletion, one goods
// line for goods number `code`, and a clock line.
inline std::string GoodsFile(int code = 123) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%015d", code);
  std::string a = "A200123400000" + std::string(buf) + "0000" + "0000" + "00" + "00001.50" + "005" + "0000";
  a += std::string("Apple");
  a.resize(1 + 132, ' ');
  return "D000777\r\n" + a + "\r\nT202403050907\r\n";
}

// Opens `count` connections to `port` on loopback without waiting for them
// to be accepted and without sending a byte.
inline std::vector<int> SilentConnections(uint16_t port, int count) {
  std::vector<int> fds;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = platform::InetAddr("127.0.0.1");
  for (int i = 0; i < count; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) break;
    connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);  // EINPROGRESS
    fds.push_back(fd);
  }
  return fds;
}

}  // namespace tv::test
