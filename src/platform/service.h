// The service framework's stand-in (with signals.h): readiness reports
// to systemd, and writing or removing the systemd unit.
#pragma once

#include <string>

#include "platform/status.h"

namespace tv::platform {

// sd_notify reports; no-ops when not run by systemd (NOTIFY_SOCKET unset).
void NotifyReady();
// True when systemd runs this process (INVOCATION_ID set, or standard error
// going to the journal).
bool RunBySystemd();
void NotifyStopping();
// A reload begins; NotifyReady ends it.  The time stamp lets a newer
// systemd tell this reload from an earlier one.
void NotifyReloading();
// One line for `systemctl status` (STATUS=...).
void NotifyStatus(const std::string& status);

// Path of the running executable.
std::string ExecutablePath();

// The directory for unit files: $TOVALINK_UNIT_DIR, else /etc/systemd/system.
std::string UnitDirectory();
// Writes `content` as <dir>/<name>, or removes it; the reason on failure is
// the operator's message as it stands.
Status WriteUnitFile(const std::string& dir, const std::string& name, const std::string& content);
Status RemoveUnitFile(const std::string& dir, const std::string& name);
// Runs "systemctl <args>" when systemctl is installed; true when it is
// absent or succeeded.
bool RunSystemctl(const std::string& args);
bool SystemctlAvailable();

// True when the user `name` exists in the user database.
bool SystemUserExists(const std::string& name);
// useradd --system with its own group, no login shell and `home` as its
// home; true on success.
bool CreateSystemUser(const std::string& name, const std::string& home);
// userdel; true on success.  Takes back a user CreateSystemUser made.
bool RemoveSystemUser(const std::string& name);

}  // namespace tv::platform
