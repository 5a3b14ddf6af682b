#include "service/servicehost.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "cli/checkcli.h"
#include "cli/exitcode.h"
#include "cli/options.h"
#include "engine/startreport.h"
#include "platform/fs.h"
#include "platform/instancelock.h"
#include "platform/log.h"
#include "platform/service.h"
#include "platform/signals.h"
#include "text/utils.h"
#include "tovalink/unit_template.h"

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

// The shipped unit with ExecStart pointing at this binary.
std::string TTovalinkService::UnitFileText() const {
  std::string text = kUnitTemplate;
  std::string placeholder = kUnitExecPlaceholder;
  size_t at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, placeholder.size(), platform::ExecutablePath());
  return text;
}

bool TTovalinkService::EnsureServiceUser(bool& created) {
  created = false;
  if (platform::SystemUserExists(kServiceUser)) return true;
  if (platform::CreateSystemUser(kServiceUser, "/var/lib/tovalink")) {
    std::printf("Created the system user %s\n", kServiceUser);
    created = true;
    return true;
  }
  std::fprintf(stderr,
               "%s: cannot create the system user %s (useradd failed); nothing was changed\n",
               displayName_.c_str(), kServiceUser);
  return false;
}

// An install that fails half-way takes back what it made, and names what
// it could not, so that no stray user or unit outlives the failure.
void TTovalinkService::TakeBack(const std::string& unitPath, bool userCreated) {
  std::string left;
  platform::RunSystemctl(std::string("disable ") + kUnitName);
  if (!platform::RemoveUnitFile(platform::UnitDirectory(), kUnitName).ok())
    left += "\n  the unit " + unitPath;
  platform::RunSystemctl("daemon-reload");
  if (userCreated && !platform::RemoveSystemUser(kServiceUser))
    left += std::string("\n  the system user ") + kServiceUser;
  if (left.empty())
    std::fprintf(stderr, "%s: the install was taken back; nothing was changed\n",
                 displayName_.c_str());
  else
    std::fprintf(stderr, "%s: the install failed and left:%s\n", displayName_.c_str(),
                 left.c_str());
}

int TTovalinkService::Install(bool silent) {
  ServiceBeforeInstall();
  std::string dir = platform::UnitDirectory();
  const std::string unitPath = dir + "/" + kUnitName;
  // A redirected unit directory is a dry run for someone else's systemd.
  const bool system = dir == "/etc/systemd/system";
  bool userCreated = false;
  if (system && !EnsureServiceUser(userCreated)) return 1;
  const platform::Status written = platform::WriteUnitFile(dir, kUnitName, UnitFileText());
  if (!written.ok()) {
    std::fprintf(stderr, "%s: %s\n", displayName_.c_str(), written.ToString().c_str());
    if (userCreated)
      TakeBack(unitPath, true);
    else
      std::fprintf(stderr, "%s: nothing was changed\n", displayName_.c_str());
    return 1;
  }
  const bool canEnable = system && platform::SystemctlAvailable();
  if (canEnable && !(platform::RunSystemctl("daemon-reload") &&
                     platform::RunSystemctl(std::string("enable ") + kUnitName))) {
    std::fprintf(stderr, "%s: systemctl could not enable %s\n", displayName_.c_str(), kUnitName);
    TakeBack(unitPath, userCreated);
    return 1;
  }
  // The unit's ProtectHome= hides these trees from the service.
  std::string exe = platform::ExecutablePath();
  for (const char* hidden : {"/home/", "/root/", "/run/user/"}) {
    if (exe.rfind(hidden, 0) == 0)
      std::fprintf(stderr, "%s: warning: the unit cannot run %s (ProtectHome=); install the binary first\n",
                   displayName_.c_str(), exe.c_str());
  }
  if (system && !canEnable) {
    // Not a success: nothing will start the service at boot.
    std::printf("The unit was written to %s but not enabled: systemctl is not installed\n",
                unitPath.c_str());
    return 0;
  }
  if (!silent) std::printf("Service installed successfully\n");
  return 0;
}

int TTovalinkService::Uninstall(bool silent) {
  ServiceBeforeUninstall();
  std::string dir = platform::UnitDirectory();
  if (dir == "/etc/systemd/system") platform::RunSystemctl(std::string("disable --now ") + kUnitName);
  const platform::Status removed = platform::RemoveUnitFile(dir, kUnitName);
  if (!removed.ok()) {
    std::fprintf(stderr, "%s: %s\n", displayName_.c_str(), removed.ToString().c_str());
    return 1;
  }
  if (dir == "/etc/systemd/system") platform::RunSystemctl("daemon-reload");
  if (!silent) {
    std::printf("Service uninstalled successfully\n");
    // The goods data, the store and the user may be wanted by a reinstall.
    std::printf("Kept: the state directory %s (store, logs, export files) and the system user %s\n",
                platform::StateHome().c_str(), kServiceUser);
  }
  return 0;
}

namespace {

const char* const kInstallUsage =
    "usage: tovalink INSTALL|UNINSTALL [SILENT]\n"
    "  INSTALL    create the system user tovalink, write and enable the systemd unit\n"
    "  UNINSTALL  disable and remove the unit; the user and the state directory stay\n"
    "  SILENT     no message on success\n"
    "The unit directory is $TOVALINK_UNIT_DIR, else /etc/systemd/system.\n";

}  // namespace

int RunInstallCommand(bool install, int argc, char** argv) {
  bool silent = false;
  for (int i = 0; i < argc; ++i) {
    if (cli::IsHelp(argv[i])) {
      std::cout << kInstallUsage;
      return cli::kExitDone;
    }
    // Only SILENT, once: any other word may be a typo of an intention.
    if (silent || !cli::IsSwitch(argv[i], "SILENT", true)) {
      std::cerr << "tovalink: unexpected argument '" << argv[i] << "'\n" << kInstallUsage;
      return cli::kExitUsage;
    }
    silent = true;
  }
  TTovalinkService service;
  return install ? service.Install(silent) : service.Uninstall(silent);
}

namespace {

// Two services on one state directory would deliver and log every file twice.
bool LockStateDirectory(platform::InstanceLock& lock) {
  const std::string home = platform::StateHome();
  long pid = 0;
  const platform::Status status = lock.Acquire(home, pid);
  if (status.ok()) return true;
  if (status.osError() == EWOULDBLOCK)
    platform::LogError("Service failed on start: another Tovalink runs on %s (pid %ld)", home.c_str(), pid);
  else
    platform::LogError("Service failed on start: %s", status.ToString().c_str());
  return false;
}

// A stop never cuts a cycle short; say what it waits for, so a stop that
// takes a while does not look like a hang.
void AnnounceStop(TEngine& engine) {
  if (!engine.Flags().CycleRunning) {
    platform::LogInfo("stopping");
    return;
  }
  std::string busy = engine.Progress().Describe();
  std::string line = "waiting for the export cycle" + (busy.empty() ? std::string() : ": " + busy) +
                     ", each network wait at most 15 s";
  platform::LogInfo("stopping: %s", line.c_str());
  platform::NotifyStatus("stopping: " + line);
}

}  // namespace

namespace {

// Tests of the real binary drop files by rename, as a back office should,
// and need not wait out the quiet period for every one.
std::chrono::milliseconds QuietPeriod(std::chrono::milliseconds configured) {
  const char* text = std::getenv("TOVALINK_TEST_QUIET_MS");
  if (text == nullptr || *text == '\0') return configured;
  char* end = nullptr;
  const long ms = std::strtol(text, &end, 10);
  if (*end != '\0' || ms < 0) {
    platform::LogError("TOVALINK_TEST_QUIET_MS ignored: %s is no number of milliseconds", text);
    return configured;
  }
  platform::LogWarning(
      "export files are taken after %ld ms unchanged, not %lld: TOVALINK_TEST_QUIET_MS is set", ms,
      static_cast<long long>(configured.count()));
  return std::chrono::milliseconds(ms);
}

// A test of the whole service gives up on a silent scale sooner than a shop
// would.
int ScaleTimeoutMs(int shop) {
  const char* v = std::getenv("TOVALINK_TEST_SCALE_TIMEOUT_MS");
  if (v == nullptr || *v == '\0') return shop;
  int32_t value = 0;
  if (!text::StrToInt(v, value) || value <= 0) {
    platform::LogError("TOVALINK_TEST_SCALE_TIMEOUT_MS ignored: %s is no positive number", v);
    return shop;
  }
  platform::LogWarning(
      "scales are given up after %d ms instead of %d ms for a test: "
      "TOVALINK_TEST_SCALE_TIMEOUT_MS",
      value, shop);
  return static_cast<int>(value);
}

}  // namespace

TEngineOptions EngineOptionsFromEnvironment() {
  TEngineOptions options;
  options.quietPeriod = QuietPeriod(options.quietPeriod);
  options.scaleTimeoutMs = ScaleTimeoutMs(options.scaleTimeoutMs);
  return options;
}

int RunService(TEngineOptions options) {
  // A misspelt level would silently log at info: the operator asked for
  // something and would not get it.
  if (const char* level = std::getenv("TOVALINK_LOG_LEVEL");
      level != nullptr && *level != '\0' && std::string(level) != "debug" && std::string(level) != "info") {
    platform::LogError("Service failed on start: TOVALINK_LOG_LEVEL \"%s\" is no level; use debug or info", level);
    return 1;
  }
  // Before any thread exists, so that only the wait below sees the signals.
  platform::BlockTerminationSignals();
  platform::InstanceLock lock;
  if (!LockStateDirectory(lock)) return 1;
  TTovalinkService service;
  std::string error;
  if (!service.ScaleServiceStart(error, std::move(options))) {
    platform::LogError("Service failed on start: %s", error.c_str());
    PrintCheckReport(
        CheckStore(platform::Registry::DefaultPath(), platform::Regional::FromProcessLocale()),
        std::cerr);
    return 1;
  }
  LogStartReport(*service.Engine());
  platform::NotifyReady();
  platform::NotifyStatus("no export cycle yet; watching " + platform::MapPath(service.Engine()->Settings()->ExportDir));
  // SIGHUP reloads the stored settings, as a parameter block's write does.
  // systemd holds `systemctl reload` until the engine's READY=1 after it.
  while (platform::WaitForTerminationSignal() == SIGHUP) {
    platform::NotifyReloading();
    service.Engine()->RequestReload();
  }
  platform::NotifyStopping();
  AnnounceStop(*service.Engine());
  service.ScaleServiceStop();
  platform::LogInfo("stopped");
  return 0;
}

}  // namespace tv
