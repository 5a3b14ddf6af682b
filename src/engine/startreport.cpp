#include "engine/startreport.h"

#include <locale.h>

#include <cstdlib>

#include "engine/engine.h"
#include "engine/engine_config.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "tovalink/version.h"

namespace tv {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

int MaskOf(const std::string& categoryVariable) {
  if (categoryVariable == "LC_TIME") return LC_TIME_MASK;
  return LC_NUMERIC_MASK;
}

// The scale count as a cycle would read it; -1 when the tables cannot be read.
int ScaleCount(TEngine& engine) {
  try {
    auto reg = engine.Registry().Lock();
    return static_cast<int>(DeviceTableRead(*reg, 0).ScaleNumbers.size());
  } catch (const platform::RegistryError& e) {
    platform::LogError("scale tables cannot be read: %s", e.what());
    return -1;
  }
}

}  // namespace

std::string EffectiveLocale(const char* categoryVariable) {
  std::string name = Env("LC_ALL");
  if (name.empty()) name = Env(categoryVariable);
  if (name.empty()) name = Env("LANG");
  if (name.empty()) return "C";
  locale_t probe = newlocale(MaskOf(categoryVariable), name.c_str(), static_cast<locale_t>(0));
  if (probe == static_cast<locale_t>(0)) return "C (" + name + " is not installed)";
  freelocale(probe);
  return name;
}

bool IsPlainLocale(const std::string& locale) {
  return locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0 || locale.rfind("C (", 0) == 0;
}

std::string SeparatorSource(const char* what, char stored, char host, const char* storedName,
                            const char* hostFrom) {
  std::string line = std::string(what) + " '";
  const std::string hostSource =
      hostFrom ? std::string("stored ") + hostFrom : "locale " + EffectiveLocale("LC_NUMERIC");
  if (stored == 0) return line + host + "' (" + hostSource + ")";
  line += stored + std::string("' (stored ") + storedName;
  // Goods files are split into lines and keys at the host's list separator
  // whatever is stored; only the fields use the stored one.
  if (stored != host && std::string(storedName) == "ListSeparator")
    line += std::string("; files are split at the ") + (hostFrom ? hostFrom : "locale's") + " '" +
            host + "'";
  return line + ")";
}

void LogStartReport(TEngine& engine) {
  using platform::LogInfo;
  const TEngineSettingsPtr s = engine.Settings();
  const platform::Regional& host = engine.Host();
  LogInfo("Tovalink %s starting; state directory %s, store %s", kVersion, platform::StateHome().c_str(),
          engine.StorePath().c_str());
  LogInfo("ExportDir %s, Unsent %s, LogoDir %s", platform::MapPath(s->ExportDir).c_str(),
          platform::MapPath(s->ExportDir + "\\Unsent").c_str(), platform::MapPath(s->LogoDir).c_str());
  LogInfo("%s, %s",
          SeparatorSource("list separator", s->ListSeparator, host.listSeparator, "ListSeparator",
                          host.listFrom)
              .c_str(),
          SeparatorSource("decimal separator", s->DecimalSeparator, host.decimalSeparator,
                          "DecimalSeparator", host.decimalFrom)
              .c_str());
  LogInfo("delivery log dates \"%s\", times \"%s\" (locale %s)", host.shortDateFormat.c_str(),
          host.longTimeFormat.c_str(), EffectiveLocale("LC_TIME").c_str());
  const int scales = ScaleCount(engine);
  if (scales >= 0)
    LogInfo("%d scale%s in the scale list, VerInterval %d s", scales, scales == 1 ? "" : "s", s->VerInterval);
}

}  // namespace tv
