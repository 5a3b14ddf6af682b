// TEngine: the service's central object and thread.  It owns the settings,
// the three events that drive its loop and every long-lived worker (the
// event timer, the parameter server, the status server, the reporter and
// CFiles).  It sleeps until the timer reports waiting files, then runs one
// export cycle at a time, and ends cleanly on a stop request.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "config/remoteaccess.h"
#include "config/settings.h"
#include "engine/cyclereport.h"
#include "engine/metricsserver.h"
#include "files/fileproc.h"
#include "platform/clock.h"
#include "platform/dirwatch.h"
#include "platform/event.h"
#include "platform/ledger.h"
#include "platform/regional.h"
#include "platform/registry.h"
#include "platform/tcpserver.h"
#include "platform/thread.h"
#include "scale/scaleclient.h"

namespace tv {

class TEngine;
class TEventTimer;
class TExportWatcher;
class TParamServer;
class TServiceFacts;
class TStatusServer;
class TUDPReporter;

// Makes the export cycle.  The default builds a TThrEngine; tests put in a
// cycle they control.  May throw: the engine then starts nothing.
using TCycleFactory = std::function<std::unique_ptr<platform::Thread>(TEngine&)>;

struct TEngineOptions {
  std::string storePath;  // empty: platform::Registry::DefaultPath()
  // The stored HostListSeparator and HostDecimalSeparator replace its
  // separators at start.
  platform::Regional host = platform::Regional::FromProcessLocale();
  const platform::Clock* clock = &platform::SystemClock();
  TCycleFactory cycleFactory;  // empty: the real export cycle
  uint16_t paramPort = 3057;
  uint16_t statusPort = 3058;
  int statusIdleTimeoutMs = 15000;
  uint16_t reporterPort = 19200;
  // How long an export file must stay unchanged before a cycle takes it.
  std::chrono::milliseconds quietPeriod = CFiles::kQuietPeriod;
  // How long a cycle waits for a silent scale, sending and receiving each.
  int scaleTimeoutMs = TScaleClntContext::kNetworkTimeoutMs;
};

class TEngine : public platform::Thread {
 public:
  // Runs the start-up and starts the engine thread and its servers.
  // Throws std::runtime_error with the reason when the settings cannot be
  // read or the directories cannot be made; nothing keeps running then.
  explicit TEngine(TEngineOptions options);
  // Stops and destroys everything the engine created.  Call after the
  // engine thread has ended (RequestStop + WaitFor).
  ~TEngine() override;

  // The same as Terminate(): the stop request wakes the engine's wait.
  void RequestStop() { Terminate(); }
  void RequestCycle() { startEvent_.Set(); }
  // Re-reads the reload values and replaces the settings as one snapshot.
  bool Reload();
  // A new cycle's settings from `reg`; when the store holds a value they
  // cannot be read with, the last good ones, said once per fault (a cycle
  // may start every second).  Engine thread only.
  TCycleSettings CycleSettingsFrom(platform::Registry& reg);
  // Reload on the engine thread between cycles (SIGHUP): a running cycle
  // finishes on the settings it began with.
  void RequestReload() { reloadEvent_.Set(); }

  TEngineSettingsPtr Settings() const { return settings_.Get(); }
  const TSettingsHolder& SettingsHolder() const { return settings_; }
  CFiles& Files() { return *files_; }
  TEngineFlags& Flags() { return *flags_; }
  const std::shared_ptr<TEngineFlags>& SharedFlags() const { return flags_; }
  platform::GuardedRegistry& Registry() { return *registry_; }
  const std::string& StorePath() const { return storePath_; }
  const platform::Regional& Host() const { return options_.host; }
  const platform::Clock& Clock() const { return *options_.clock; }
  int ScaleTimeoutMs() const { return options_.scaleTimeoutMs; }
  // Set by the cycle as its last action.
  void SignalCycleEnd() { endEvent_.Set(); }
  bool ParamClientConnected() const;
  bool TimerEnabled() const;
  // How often the timer looks for work; a reload may change it.
  int32_t TimerPeriodMs() const;
  // What the running cycle is busy with (read when the service stops).
  TCycleProgress& Progress() { return progress_; }
  // What `tovalink status` reads back of the service's state.
  TServiceFacts& Facts() { return *facts_; }
  // The delivery ledger, kept open from cycle to cycle so that what it knows
  // of each scale's holdings spares the next delivery's unchanged writes.
  // Only the running cycle uses it.
  platform::Ledger& DeliveryLedger() { return ledger_; }
  // Cycles started so far (for tests and diagnostics).
  int CyclesStarted() const { return cyclesStarted_.load(); }
  // Looks the timer has taken for waiting files so far (the same).
  int TimerChecks() const;

 protected:
  int Execute() override;

 private:
  void StartUp();
  void OpenStore();
  void ProveStoreWritable(platform::Registry& reg);
  void ReloadOnRequest();
  void ReadRemoteAccess(platform::Registry& reg);
  void StartParamServer(const TEngineSettings& s);
  void StartServers();
  void StartMetricsServer();
  bool StartCycle();
  void FinishPreviousCycle();
  void ShutDownWorkers();

  TEngineOptions options_;
  std::string storePath_;
  std::unique_ptr<platform::GuardedRegistry> registry_;
  TSettingsHolder settings_;
  TCycleSettings lastGoodCycle_;  // read at start, so a fault always has them
  std::string cycleFault_;        // the fault said last; empty while all is well
  // The reload values as stored when last read, so that a reload names
  // what it changed.
  std::map<std::string, std::string> reloadValues_;
  std::shared_ptr<TEngineFlags> flags_ = std::make_shared<TEngineFlags>();
  platform::Event stopEvent_{"ENG_Terminate_Event"};
  platform::Event startEvent_{"ENG_InitExport_Event"};
  platform::Event endEvent_{"ENG_EndExport_Event"};
  platform::Event reloadEvent_{"ENG_Reload_Event"};
  std::unique_ptr<TServiceFacts> facts_;
  platform::Ledger ledger_;  // outlives every cycle: declared before cycle_
  std::unique_ptr<CFiles> files_;
  std::unique_ptr<TEventTimer> timer_;
  std::unique_ptr<TExportWatcher> watcher_;
  // Where the two servers listen and whom they admit, read at start.
  config::TListenAddress paramAddress_;
  config::TListenAddress statusAddress_;
  platform::TcpServer::Admission admit_;
  std::unique_ptr<TParamServer> paramServer_;
  std::unique_ptr<TStatusServer> statusServer_;
  TMetricsAddress metricsAddress_;
  std::unique_ptr<TMetricsServer> metricsServer_;
  std::unique_ptr<TUDPReporter> reporter_;
  std::unique_ptr<platform::Thread> cycle_;
  std::atomic<int> cyclesStarted_{0};
  TCycleProgress progress_;
};

// Polls for waiting export files every 500 ms and, once the period has
// passed, sets the engine's start signal when CFiles finds work.
class TEventTimer : public platform::Thread {
 public:
  TEventTimer(int32_t periodMs, CFiles& files, const TSettingsHolder& settings, platform::Event& startSignal);
  ~TEventTimer() override;
  void SetEnabled(bool on) { enabled_.store(on); }
  bool Enabled() const { return enabled_.load(); }
  int32_t PeriodMs() const { return periodMs_.load(); }
  // A reload changes VerInterval between two polls.
  void SetPeriodMs(int32_t ms) { periodMs_.store(ms); }
  // The poll period for a stored VerInterval, kept within int32_t.
  static int32_t PeriodOf(int64_t verIntervalSeconds);
  int Checks() const { return checks_.load(); }

 protected:
  int Execute() override;

 private:
  std::atomic<int32_t> periodMs_;
  CFiles& files_;
  const TSettingsHolder& settings_;
  platform::Event& startSignal_;
  std::atomic<bool> enabled_{true};
  std::atomic<int> checks_{0};
};

// Starts a cycle the moment a file in the export directory is complete
// (renamed in, or closed after writing), and tells CFiles so that it needs
// no quiet period.  What it cannot see is left to TEventTimer.
class TExportWatcher : public platform::Thread {
 public:
  TExportWatcher(CFiles& files, const TSettingsHolder& settings, platform::Event& startSignal);
  ~TExportWatcher() override;
  // Whether a file completed since the last call: one that completes while
  // a cycle runs may have come too late for its listing.
  bool TakeArrival() { return arrived_.exchange(false); }

 protected:
  int Execute() override;

 private:
  // Follows ExportDir to where a reload moved it.
  void FollowExportDir(std::string hostDir);

  CFiles& files_;
  const TSettingsHolder& settings_;
  platform::Event& startSignal_;
  platform::DirWatch watch_;
  std::string watched_;
  bool watching_ = false;
  std::atomic<bool> arrived_{false};
};

}  // namespace tv
