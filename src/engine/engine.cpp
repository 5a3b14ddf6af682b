#include "engine/engine.h"

#include <stdexcept>
#include <algorithm>

#include "config/exportlockmark.h"
#include "config/storeaccess.h"
#include "engine/servicefacts.h"
#include "engine/statusserver.h"
#include "engine/exportcycle.h"
#include "engine/engine_config.h"
#include "paramserver/paramserver.h"
#include "paramserver/blockpolicy.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/service.h"
#include "platform/stateowner.h"
#include "platform/tick.h"
#include "reporter/heartbeat.h"

namespace tv {
namespace {

// Where a server listens; one that cannot be read does not listen, since
// the shop meant to restrict it.
config::TListenAddress ListenAddressOf(platform::RegistryKey& product,
                                       const config::StoredValue& v) {
  platform::Result<config::TListenAddress> address =
      config::ParseListenAddress(config::ReadString(product, v));
  if (address.ok()) return address.value();
  platform::LogError("%s %s: that server does not listen", std::string(v.name).c_str(),
                     address.status().ToString().c_str());
  config::TListenAddress off;
  off.off = true;
  return off;
}

// Everyone when RemoteAllow is unset; nobody when it cannot be read, since
// the shop meant to restrict both ports.
platform::TcpServer::Admission AdmissionOf(platform::RegistryKey& product) {
  platform::Result<config::TRemoteAllow> parsed =
      config::TRemoteAllow::Parse(config::ReadString(product, config::kRemoteAllow));
  const bool valid = parsed.ok();
  if (!valid)
    platform::LogError("RemoteAllow %s: no peer is admitted on either port",
                       parsed.status().ToString().c_str());
  auto allow =
      std::make_shared<config::TRemoteAllow>(valid ? parsed.value() : config::TRemoteAllow{});
  if (valid && allow->Everyone()) return {};
  auto refusals = std::make_shared<config::TRefusalLog>();
  return [allow, refusals, valid](const std::string& peer) {
    if (valid && allow->Allows(peer)) return true;
    refusals->Refused(peer, "remote access");
    return false;
  };
}

}  // namespace

TEngine::TEngine(TEngineOptions options) : options_(std::move(options)) {
  storePath_ = options_.storePath.empty() ? platform::Registry::DefaultPath() : options_.storePath;
  WakeOnStop([this] { stopEvent_.Set(); });
  try {
    StartUp();
    Start();
    StartServers();
  } catch (...) {
    RequestStop();
    WaitFor();
    ShutDownWorkers();
    throw;
  }
}

TEngine::~TEngine() {
  RequestStop();
  WaitFor();
  ShutDownWorkers();
}

// Only a missing store gets the defaults.  An existing one without the
// product key (emptied, or a different file) would otherwise start the
// service on defaults, and the shop's configuration would be gone unseen.
// An empty file is refused before the store opens it, so that it stays as
// the operator found it.
void TEngine::OpenStore() {
  platform::FileInfo info;
  const bool existed = platform::Env::Default()->GetFileInfo(storePath_, &info).ok() &&
                       info.type != platform::FileType::kDirectory;
  const std::string refusal = "the store " + storePath_ + " holds no HKCU\\" + kProductKey +
                              " key (emptied or damaged?): restore it, or remove the file to start on the defaults";
  if (info.type == platform::FileType::kRegular && info.size == 0)
    throw std::runtime_error(refusal);
  registry_ = std::make_unique<platform::GuardedRegistry>(storePath_);
  auto reg = registry_->Lock();
  if (existed && !reg->KeyExists(kProductKey)) throw std::runtime_error(refusal);
  ProveStoreWritable(*reg);
  CreateDefaults(*reg);
}

// A store the service may only read (made by root, say) would let it start
// and deliver while every result it stores is lost.
void TEngine::ProveStoreWritable(platform::Registry& reg) {
  try {
    reg.ProveWritable();
  } catch (const platform::RegistryError& e) {
    const std::string why = platform::StoreWriteProblem(storePath_);
    throw std::runtime_error("the store " + storePath_ + " cannot be written (" + e.what() + ")" +
                             (why.empty() ? std::string() : ": " + why));
  }
}

void TEngine::StartUp() {
  facts_ = std::make_unique<TServiceFacts>(storePath_, ReminderIntervalSeconds());
  progress_.SetListener([this](const std::vector<int>& scales) { facts_->Busy(scales); });
  TEngineSettings s;
  try {
    OpenStore();
    auto reg = registry_->Lock();
    const platform::Status read = StartRead(*reg, s);
    if (!read.ok()) {
      platform::LogError("%s", read.ToString().c_str());
      throw std::runtime_error("a setting cannot be read or the export and log directories cannot be made");
    }
    ReadRemoteAccess(*reg);
    reloadValues_ = ReloadValuesAsStored(*reg);
  } catch (const platform::RegistryError& e) {
    throw std::runtime_error(e.what());
  }
  try {
    // A value no cycle could work with stops the start here, named, rather
    // than every delivery later.
    auto reg = registry_->Lock();
    lastGoodCycle_ = CheckedCycleRead(*reg);
  } catch (const platform::RegistryError& e) {
    throw std::runtime_error(e.what());
  }
  settings_.Set(std::make_shared<const TEngineSettings>(s));
  options_.host.UseStoredSeparators(s.HostListSeparator, s.HostDecimalSeparator);
  files_ = std::make_unique<CFiles>(settings_, options_.host, *options_.clock);
  files_->SetQuietPeriod(options_.quietPeriod);
  files_->SetUndeletableRecord(TUndeletableFiles::RecordPathFor(storePath_));
  files_->SetRejectedHook([this](const std::string& name, const std::string& reason) {
    facts_->Rejected(name, reason);
  });
  // No cycle runs yet, so every temporary copy left in Unsent is a kill's.
  files_->RemoveStaleTemporaryCopies(s.ExportDir + "\\" + s.FileMask);
  timer_ = std::make_unique<TEventTimer>(TEventTimer::PeriodOf(s.VerInterval), *files_, settings_,
                                         startEvent_);
  timer_->Start();
  watcher_ = std::make_unique<TExportWatcher>(*files_, settings_, startEvent_);
  watcher_->Start();
  StartParamServer(s);
  flags_->CycleRunning = false;
  flags_->ExportsLocked = false;
  // A service killed while locked left its mark; this one starts unlocked.
  config::SetExportLockMark(*platform::Env::Default(), storePath_, false);
}

void TEngine::ReadRemoteAccess(platform::Registry& reg) {
  platform::RegistryKey product = reg.OpenReadOnly(kProductKey);
  paramAddress_ = ListenAddressOf(product, config::kParamServerAddress);
  statusAddress_ = ListenAddressOf(product, config::kStatusServerAddress);
  admit_ = AdmissionOf(product);
  platform::Result<TMetricsAddress> metrics =
      ParseMetricsAddress(config::ReadString(product, config::kMetricsAddress));
  if (metrics.ok()) {
    metricsAddress_ = metrics.value();
  } else {
    platform::LogError("MetricsAddress %s: metrics and status page off",
                       metrics.status().ToString().c_str());
    metricsAddress_.off = true;
  }
}

void TEngine::StartParamServer(const TEngineSettings& s) {
  if (paramAddress_.off) {
    platform::LogInfo("parameter server off (ParamServerAddress)");
    return;
  }
  TParamServerHost host{registry_.get(), flags_, [this] { return Reload(); },
                        DefaultAllowedRoots(s.ExportDir, s.LogoDir), [this] { RequestCycle(); }};
  host.exportsLockChanged = [this](bool locked) {
    config::SetExportLockMark(*platform::Env::Default(), storePath_, locked);
    facts_->Locked(locked);
  };
  host.bindAddress = paramAddress_.address;
  host.admit = admit_;
  paramServer_ = std::make_unique<TParamServer>(host, options_.paramPort);
  paramServer_->Start();
}

void TEngine::StartServers() {
  if (statusAddress_.off) {
    platform::LogInfo("status server off (StatusServerAddress)");
  } else {
    statusServer_ = std::make_unique<TStatusServer>(*registry_, flags_, options_.statusPort,
                                                    options_.statusIdleTimeoutMs);
    statusServer_->Activate(statusAddress_.address, admit_);
  }
  StartMetricsServer();
  reporter_ = std::make_unique<TUDPReporter>(Settings()->MonitorIP, flags_, options_.reporterPort);
  reporter_->Start();
}

// A listener that cannot open costs the view, never delivery.
void TEngine::StartMetricsServer() {
  if (metricsAddress_.off) {
    platform::LogInfo("metrics and status page off (MetricsAddress)");
    return;
  }
  metricsServer_ = std::make_unique<TMetricsServer>(storePath_);
  const platform::Status s = metricsServer_->Start(metricsAddress_);
  if (!s.ok()) {
    platform::LogError("metrics and status page: %s", s.ToString().c_str());
    metricsServer_.reset();
  }
}

void TEngine::ShutDownWorkers() {
  metricsServer_.reset();
  if (reporter_) {
    reporter_->Terminate();
    reporter_->WaitFor();
    reporter_.reset();
  }
  if (statusServer_) {
    statusServer_->Deactivate();
    statusServer_.reset();
  }
  if (paramServer_) {
    paramServer_->Terminate();
    paramServer_->WaitFor();
    paramServer_.reset();
    config::SetExportLockMark(*platform::Env::Default(), storePath_, false);
  }
  if (watcher_) {
    watcher_->Terminate();
    watcher_->WaitFor();
    watcher_.reset();
  }
  if (timer_) {
    timer_->Terminate();
    timer_->WaitFor();
    timer_.reset();
  }
  cycle_.reset();
  progress_.SetListener({});
  files_.reset();
  registry_.reset();
}

bool TEngine::Reload() {
  TEngineSettings next = *settings_.Get();
  platform::Status reloaded;
  {
    auto reg = registry_->Lock();
    reloaded = ReloadSettings(*reg, next);
  }
  if (reloaded.ok()) {
    settings_.Set(std::make_shared<const TEngineSettings>(next));
    if (timer_) timer_->SetPeriodMs(TEventTimer::PeriodOf(next.VerInterval));
    facts_->ForgetUnlisted();  // the list may have changed: say again what it leaves out
    return true;
  }
  platform::LogError("%s", reloaded.ToString().c_str());
  platform::LogError("reload after a remote write failed: the settings in force stay as they were");
  return false;
}

TCycleSettings TEngine::CycleSettingsFrom(platform::Registry& reg) {
  try {
    lastGoodCycle_ = CheckedCycleRead(reg);
    if (!cycleFault_.empty())
      platform::LogInfo("settings readable again: cycles use the stored values");
    cycleFault_.clear();
    facts_->SettingsFault("");
  } catch (const platform::RegistryError& e) {
    if (cycleFault_ != e.what())
      platform::LogError(
          "settings: %s: cycles go on with the values they had (IPAdress \"%s\", SocketPort %d)",
          e.what(), lastGoodCycle_.IPAdress.c_str(), lastGoodCycle_.SocketPort);
    cycleFault_ = e.what();
    facts_->SettingsFault(e.what());
  }
  return lastGoodCycle_;
}

bool TEngine::ParamClientConnected() const { return paramServer_ && paramServer_->ClientConnected(); }

bool TEngine::TimerEnabled() const { return timer_ && timer_->Enabled(); }

int32_t TEngine::TimerPeriodMs() const { return timer_ ? timer_->PeriodMs() : 0; }

int TEngine::TimerChecks() const { return timer_ ? timer_->Checks() : 0; }

void TEngine::FinishPreviousCycle() {
  if (!cycle_) return;
  cycle_->WaitFor();
  cycle_.reset();
}

void TEngine::ReloadOnRequest() {
  reloadEvent_.Reset();
  if (Reload()) {
    std::map<std::string, std::string> now;
    {
      auto reg = registry_->Lock();
      now = ReloadValuesAsStored(*reg);
    }
    const std::string changed = DescribeReloadChanges(reloadValues_, now);
    reloadValues_ = std::move(now);
    platform::LogInfo("settings reloaded: %s", changed.empty() ? "no value changed" : changed.c_str());
  }
  else
    platform::LogError("settings not reloaded: the service goes on with the ones it had");
  platform::NotifyReady();
}

// Called with CycleRunning already set by the gate.
bool TEngine::StartCycle() {
  timer_->SetEnabled(false);
  // Cleared before the cycle exists, so a cycle that ends at once cannot
  // have its end signal wiped out.
  startEvent_.Reset();
  endEvent_.Reset();
  // What completed so far is this cycle's to list.
  if (watcher_) watcher_->TakeArrival();
  try {
    cycle_ = options_.cycleFactory ? options_.cycleFactory(*this) : std::make_unique<TThrEngine>(*this);
    cycle_->Start();
  } catch (const std::exception& e) {
    platform::LogError("export cycle not started: %s", e.what());
    facts_->CyclesBlocked(std::string("export cycle not started: ") + e.what());
    cycle_.reset();
    flags_->CycleRunning = false;
    timer_->SetEnabled(true);
    return false;
  }
  ++cyclesStarted_;
  return true;
}

int TEngine::Execute() {
  for (;;) {
    startEvent_.Reset();
    endEvent_.Reset();
    flags_->CycleRunning = false;
    if (watcher_ && watcher_->TakeArrival()) startEvent_.Set();
    // The stop event is never reset, so a stop that arrives anywhere in this
    // loop is seen by the next wait.
    int woke;
    while ((woke = platform::WaitForAny({&stopEvent_, &startEvent_, &reloadEvent_})) == 2) ReloadOnRequest();
    if (woke == 0) break;
    FinishPreviousCycle();
    // A silent or merely connected parameter client holds nothing back;
    // an open exchange does, and asks for the cycle when it ends.
    if (!flags_->TryBeginCycle()) continue;
    if (!StartCycle()) continue;
    if (platform::WaitForAny({&stopEvent_, &endEvent_}) == 0) {
      timer_->SetEnabled(false);
      FinishPreviousCycle();
      break;
    }
    timer_->SetEnabled(true);
  }
  return 0;
}

int32_t TEventTimer::PeriodOf(int64_t verIntervalSeconds) {
  return static_cast<int32_t>(std::clamp<int64_t>(verIntervalSeconds * 1000, 0, INT32_MAX));
}

TEventTimer::TEventTimer(int32_t periodMs, CFiles& files, const TSettingsHolder& settings,
                         platform::Event& startSignal)
    : periodMs_(periodMs), files_(files), settings_(settings), startSignal_(startSignal) {}

TEventTimer::~TEventTimer() {
  Terminate();
  WaitFor();
}

int TEventTimer::Execute() {
  uint32_t lastCheck = platform::TickCount();
  while (!Terminated()) {
    if (enabled_.load()) {
      if (platform::TickCount() - lastCheck >= static_cast<uint32_t>(periodMs_.load())) {
        TEngineSettingsPtr s = settings_.Get();
        if (files_.HasPendingFiles(s->ExportDir + "\\" + s->FileMask)) startSignal_.Set();
        checks_.fetch_add(1);
        lastCheck = platform::TickCount();
      }
    } else {
      lastCheck = platform::TickCount();
    }
    SleepUnlessTerminated(500);
  }
  return 0;
}

TExportWatcher::TExportWatcher(CFiles& files, const TSettingsHolder& settings,
                               platform::Event& startSignal)
    : files_(files), settings_(settings), startSignal_(startSignal) {
  // Watching before the engine says it has started: a file renamed in
  // after that is never missed.
  FollowExportDir(platform::MapPath(settings_.Get()->ExportDir));
}

TExportWatcher::~TExportWatcher() {
  Terminate();
  WaitFor();
}

void TExportWatcher::FollowExportDir(std::string hostDir) {
  // The names it reports must spell the paths the cycle's listing maps to.
  while (hostDir.size() > 1 && hostDir.back() == '/') hostDir.pop_back();
  if (hostDir == watched_) return;
  watched_ = hostDir;
  const platform::Status s = watch_.Watch(hostDir);
  watching_ = s.ok();
  if (!watching_)
    platform::LogWarning("export directory %s not watched, its files wait for the timer: %s",
                         hostDir.c_str(), s.ToString().c_str());
}

int TExportWatcher::Execute() {
  // Short waits: a stop or a moved ExportDir is seen within one.
  constexpr int kWaitMs = 200;
  while (!Terminated()) {
    TEngineSettingsPtr s = settings_.Get();
    FollowExportDir(platform::MapPath(s->ExportDir));
    if (!watching_) {
      if (!SleepUnlessTerminated(kWaitMs)) break;
      continue;
    }
    const std::vector<std::string> names = watch_.Wait(kWaitMs);
    if (names.empty()) continue;
    bool listable = false;
    for (const std::string& name : names) {
      if (name[0] == '.') continue;  // a copy still on its way in
      files_.MarkComplete(watched_ + "/" + name);
      listable = true;
    }
    if (listable && files_.HasPendingFiles(s->ExportDir + "\\" + s->FileMask)) {
      arrived_.store(true);
      startSignal_.Set();
    }
  }
  return 0;
}

}  // namespace tv
