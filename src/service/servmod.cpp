#include "service/servmod.h"

#include <csignal>
#include <cstdio>
#include <stdexcept>

#include "platform/fs.h"
#include "platform/instancelock.h"
#include "platform/log.h"
#include "platform/service.h"
#include "platform/signals.h"

namespace tv {

const char* const kNoticeText =
    "Tovalink delivers goods data to the networked scales. Settings live in "
    "the store at $TOVALINK_HOME; edit them with: tovalink reg. Logfile: sclogo.csv.";

TTovalinkService::TTovalinkService() { ScaleServiceCreate(); }

TTovalinkService::~TTovalinkService() { ScaleServiceStop(); }

void TTovalinkService::ScaleServiceCreate() { displayName_ = "Tovalink"; }

bool TTovalinkService::ScaleServiceStart(std::string& error, TEngineOptions options) {
  try {
    engine_ = std::make_unique<TEngine>(std::move(options));
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

void TTovalinkService::ScaleServiceStop() {
  if (!engine_) return;
  engine_->RequestStop();
  engine_->WaitFor();
  engine_.reset();
}

void TTovalinkService::ServiceBeforeInstall() {
  std::printf("%s\n\n%s\n\n", kNoticeCaption, kNoticeText);
  std::fflush(stdout);
}

std::string TTovalinkService::UnitFileText() const {
  return "[Unit]\n"
         "Description=" + displayName_ + "\n"
         "Wants=network-online.target\n"
         "After=network-online.target\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "ExecStart=" + platform::ExecutablePath() + "\n"
         "Environment=TOVALINK_HOME=" + platform::StateHome() + "\n"
         "Restart=on-failure\n"
         "RestartSec=5\n"
         // The reachability probe sends ICMP echo requests.
         "AmbientCapabilities=CAP_NET_RAW\n"
         // A stop waits for the running export cycle, which is never cut short.
         "TimeoutStopSec=infinity\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

int TTovalinkService::Install(bool silent) {
  ServiceBeforeInstall();
  std::string dir = platform::UnitDirectory();
  std::string error;
  if (!platform::WriteUnitFile(dir, kUnitName, UnitFileText(), error)) {
    std::fprintf(stderr, "%s: %s\n", displayName_.c_str(), error.c_str());
    return 1;
  }
  if (dir == "/etc/systemd/system" &&
      !(platform::RunSystemctl("daemon-reload") && platform::RunSystemctl(std::string("enable ") + kUnitName))) {
    std::fprintf(stderr, "%s: systemctl could not enable %s\n", displayName_.c_str(), kUnitName);
    return 1;
  }
  if (!silent) std::printf("Service installed successfully\n");
  return 0;
}

int TTovalinkService::Uninstall(bool silent) {
  ServiceBeforeUninstall();
  std::string dir = platform::UnitDirectory();
  if (dir == "/etc/systemd/system") platform::RunSystemctl(std::string("disable --now ") + kUnitName);
  std::string error;
  if (!platform::RemoveUnitFile(dir, kUnitName, error)) {
    std::fprintf(stderr, "%s: %s\n", displayName_.c_str(), error.c_str());
    return 1;
  }
  if (dir == "/etc/systemd/system") platform::RunSystemctl("daemon-reload");
  if (!silent) std::printf("Service uninstalled successfully\n");
  return 0;
}

namespace {

// Two services on one state directory would deliver and log every file twice.
bool LockStateDirectory(platform::InstanceLock& lock) {
  const std::string home = platform::StateHome();
  long pid = 0;
  std::string error;
  if (lock.Acquire(home, pid, error)) return true;
  if (error.empty())
    platform::LogError("Service failed on start: another Tovalink runs on %s (pid %ld)", home.c_str(), pid);
  else
    platform::LogError("Service failed on start: %s", error.c_str());
  return false;
}

}  // namespace

int RunService() {
  // Before any thread exists, so that only the wait below sees the signals.
  platform::BlockTerminationSignals();
  platform::InstanceLock lock;
  if (!LockStateDirectory(lock)) return 1;
  TTovalinkService service;
  std::string error;
  if (!service.ScaleServiceStart(error)) {
    platform::LogError("Service failed on start: %s", error.c_str());
    return 1;
  }
  platform::NotifyReady();
  // SIGHUP reloads the stored settings, as a parameter block's write does.
  while (platform::WaitForTerminationSignal() == SIGHUP) service.Engine()->RequestReload();
  platform::NotifyStopping();
  service.ScaleServiceStop();
  return 0;
}

}  // namespace tv
