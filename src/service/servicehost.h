// TTovalinkService: the service module.  Its handlers only create the
// engine when the service starts and end it when the service stops; the
// install and uninstall handlers write or remove the systemd unit.
#pragma once

#include <memory>
#include <string>

#include "engine/engine.h"
#include "tovalink/version.h"

namespace tv {

inline constexpr const char* kUnitName = "tovalink.service";
// In the language of the other commands' messages.
inline constexpr const char* kNoticeCaption = "Tovalink service, version " TOVALINK_VERSION;
// The system user the unit runs as.
inline constexpr const char* kServiceUser = "tovalink";
extern const char* const kNoticeText;  // 150 characters

class TTovalinkService {
 public:
  TTovalinkService();
  ~TTovalinkService();

  void ScaleServiceCreate();
  // Creates the engine; false with the reason when it cannot be created.
  bool ScaleServiceStart(std::string& error, TEngineOptions options = {});
  // Stop and shutdown alike: set the engine's stop signal, wait for its
  // thread without a time-out, destroy it.
  void ScaleServiceStop();

  // Notice, then the unit file; messages as the service framework gives them.
  int Install(bool silent);
  int Uninstall(bool silent);

  const std::string& DisplayName() const { return displayName_; }
  TEngine* Engine() { return engine_.get(); }

 private:
  void ServiceBeforeInstall();
  void ServiceBeforeUninstall() { ServiceBeforeInstall(); }
  std::string UnitFileText() const;
  // The unit's user for a system install: created when missing.
  bool EnsureServiceUser(bool& created);
  void TakeBack(const std::string& unitPath, bool userCreated);

  std::string displayName_;
  std::unique_ptr<TEngine> engine_;
};

// The engine's options for the real binary: the production values, but
// for the test-only knobs a test of the whole service sets in TOVALINK_TEST_*
// variables (each warned about once, since no shop should run with it).
TEngineOptions EngineOptionsFromEnvironment();

// `tovalink INSTALL|UNINSTALL [SILENT]`; the words after the command.
int RunInstallCommand(bool install, int argc, char** argv);

// Runs the service in the foreground until SIGTERM or SIGINT.
int RunService(TEngineOptions options);

}  // namespace tv
