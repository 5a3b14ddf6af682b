// A private state home for one test: TOVALINK_HOME points at a fresh temp
// dir, so the stored path "C:\SCALEUPLOAD\ExportDir" lands inside it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "config/settings.h"
#include "files/fileproc.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/regional.h"
#include "testutil.h"

namespace tv::testing {

using test::FixedClock;

class FilesTest : public ::testing::Test {
 protected:
  static constexpr const char* kExportDir = "C:\\SCALEUPLOAD\\ExportDir";
  static constexpr const char* kLogoDir = "C:\\SCALEUPLOAD";

  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tv-files-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    home_ = tmpl;
    setenv("TOVALINK_HOME", home_.c_str(), 1);
    SetImportType(0);
    ASSERT_TRUE(platform::Env::Default()->CreateDirectories(Host(kExportDir)).ok());
    ASSERT_TRUE(platform::Env::Default()
                    ->CreateDirectories(Host(std::string(kExportDir) + "\\Unsent"))
                    .ok());
  }

  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
  }

  void SetImportType(uint8_t type, const std::string& logoDir = kLogoDir) {
    auto s = std::make_shared<TEngineSettings>();
    s->ExportDir = kExportDir;
    s->FileMask = "*.*";
    s->LogoDir = logoDir;
    s->ImportType = type;
    s->ListSeparator = '|';  // the parse must ignore the configured one
    settings_.Set(s);
  }

  static std::string Host(const std::string& stored) { return platform::MapPath(stored); }
  static std::string Mask(const std::string& fileMask = "*.*") {
    return std::string(kExportDir) + "\\" + fileMask;
  }
  static std::string Stored(const std::string& name) { return std::string(kExportDir) + "\\" + name; }
  static std::string StoredUnsent(const std::string& name) {
    return std::string(kExportDir) + "\\Unsent\\" + name;
  }

  // Writes a file given by its stored path; `when` (local time) sets its
  // last-write time when non-zero.
  static void WriteFile(const std::string& stored, const std::string& data, std::time_t when = 0) {
    ASSERT_TRUE(platform::Env::Default()->WriteFile(Host(stored), data).ok()) << stored;
    if (when != 0) {
      ASSERT_TRUE(platform::Env::Default()
                      ->SetLastWriteTime(Host(stored), std::chrono::system_clock::from_time_t(when))
                      .ok());
    }
  }

  static std::time_t LocalAt(int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 5;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
  }

  std::vector<std::string> HostDirectory(const std::string& stored) const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Host(stored))) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  platform::Regional Regional(char listSeparator = ';') const {
    platform::Regional r;
    r.listSeparator = listSeparator;
    r.shortDateFormat = "%d.%m.%Y";
    r.longTimeFormat = "%H:%M:%S";
    return r;
  }

  std::string home_;
  TSettingsHolder settings_;
  FixedClock clock_{platform::LocalTime{2024, 3, 5, 9, 7, 5}};
};

}  // namespace tv::testing
