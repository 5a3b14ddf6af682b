// The real tovalink binary as a process: service start and stop, start
// failure, install and uninstall of the systemd unit.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "config/settings.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "platform/tick.h"
#include "testutil.h"
#include "tovalink/unit_template.h"
#include "tovalink/version.h"

namespace tv {
namespace {

using test::Process;

class ServiceProcessTest : public ::testing::Test {
 protected:
  std::vector<std::string> Env() { return {"TOVALINK_HOME=" + home.Path(), "TOVALINK_UNIT_DIR=" + units.Path()}; }
  test::TempDir home;
  test::TempDir units;
};

TEST_F(ServiceProcessTest, FirstStartCreatesStoreAndDirectoriesAndSigtermEndsIt) {
  Process p({test::TovalinkBinary()}, Env());
  std::string exportDir = home / "drive_c/SCALEUPLOAD/ExportDir/Unsent";
  ASSERT_TRUE(
      test::WaitUntil([&] { return platform::Env::Default()->DirectoryExists(exportDir); }, 5000))
      << p.Output();
  EXPECT_TRUE(platform::Env::Default()->FileExists(home / "registry.db"));
  {
    platform::Registry reg(home / "registry.db");
    platform::RegistryKey devices = reg.OpenReadOnly(kDevicesKey);
    ASSERT_TRUE(devices);
    EXPECT_EQ(devices.ReadInteger("Scale1"), 91);
  }
  uint32_t t0 = platform::TickCount();
  p.Signal(SIGTERM);
  ASSERT_TRUE(p.Wait(static_cast<int>(test::Scaled(1000))))
      << "SIGTERM must end an idle service within a second";
  EXPECT_LT(platform::TickCount() - t0, static_cast<uint32_t>(test::Scaled(1000)));
  EXPECT_EQ(p.ExitCode(), 0) << p.Output();
}

TEST_F(ServiceProcessTest, StartFailsWithTheReasonWhenASettingIsMissing) {
  {
    platform::Registry reg(home / "registry.db");
    platform::RegistryKey product = reg.Open(kProductKey, true);
    ASSERT_TRUE(product);
    product.WriteString("ExportDir", "C:\\X");
  }
  std::string out;
  int code = test::RunBinary({test::TovalinkBinary()}, Env(), out, 10000);
  EXPECT_NE(code, 0);
  // The reason names the value and its key.
  EXPECT_NE(out.find("Service failed on start: ForceDi30 in HKCU\\SOFTWARE\\Orvane Group\\Tovalin+: missing"),
            std::string::npos)
      << out;
}

TEST_F(ServiceProcessTest, AnUnknownLogLevelStopsTheStart) {
  std::vector<std::string> env = Env();
  env.push_back("TOVALINK_LOG_LEVEL=verbose");
  std::string out;
  EXPECT_EQ(test::RunBinary({test::TovalinkBinary()}, env, out, 10000), 1) << out;
  EXPECT_NE(out.find("TOVALINK_LOG_LEVEL \"verbose\" is no level; use debug or info"), std::string::npos) << out;
}

TEST_F(ServiceProcessTest, InstallAndUninstallWriteAndRemoveTheUnit) {
  std::string out;
  ASSERT_EQ(test::RunBinary({test::TovalinkBinary(), "/install"}, Env(), out), 0) << out;
  EXPECT_NE(out.find("Tovalink service, version 2.43"), std::string::npos);
  EXPECT_NE(out.find("Service installed successfully"), std::string::npos);
  std::string unit = test::ReadFile(units / "tovalink.service");
  EXPECT_NE(unit.find("Description=Tovalink\n"), std::string::npos);
  EXPECT_NE(unit.find("Restart=on-failure"), std::string::npos);
  EXPECT_NE(unit.find("\nAmbientCapabilities=CAP_NET_RAW\n"), std::string::npos);
  EXPECT_NE(unit.find("\nCapabilityBoundingSet=CAP_NET_RAW\n"), std::string::npos);
  // The shipped unit, with ExecStart at the binary that installed it.
  EXPECT_NE(unit.find("\nExecStart=" + std::filesystem::canonical(test::TovalinkBinary()).string() + "\n"), std::string::npos)
      << unit;
  EXPECT_EQ(unit.find(kUnitExecPlaceholder), std::string::npos) << "no placeholder is left: " << unit;
  EXPECT_NE(unit.find("\nUser=tovalink\n"), std::string::npos);
  EXPECT_NE(unit.find("\nExecReload=/bin/kill -HUP $MAINPID\n"), std::string::npos)
      << "systemctl reload works";
  EXPECT_NE(unit.find("\nStateDirectory=tovalink\n"), std::string::npos);
  EXPECT_NE(unit.find("\nProtectSystem=strict\n"), std::string::npos);
  EXPECT_EQ(unit.find("TimeoutStopSec=infinity"), std::string::npos) << "a stop is bounded";

  ASSERT_EQ(test::RunBinary({test::TovalinkBinary(), "UNINSTALL", "silent"}, Env(), out), 0) << out;
  EXPECT_NE(out.find("Tovalink service, version 2.43"), std::string::npos);
  EXPECT_EQ(out.find("successfully"), std::string::npos) << "SILENT hides the result message";
  EXPECT_FALSE(platform::Env::Default()->FileExists(units / "tovalink.service"));

  EXPECT_NE(test::RunBinary({test::TovalinkBinary(), "-Uninstall"}, Env(), out), 0);
  EXPECT_NE(out.find("Tovalink: "), std::string::npos) << "a failure names the display name: " << out;
}

// INSTALL and UNINSTALL take SILENT and nothing else: any other word may be
// a typo of an intention, and installing on a guess is worse than refusing.
TEST_F(ServiceProcessTest, InstallWithAnUnknownOrExtraWordChangesNothing) {
  std::string out;
  const std::string unit = units / "tovalink.service";
  for (std::vector<std::string> words : {std::vector<std::string>{"INSTALL", "--Help"},
                                         {"install", "now"},
                                         {"/INSTALL", "SILENT", "silent"},
                                         {"-install", "--dry-run"}}) {
    words.insert(words.begin(), test::TovalinkBinary());
    EXPECT_EQ(test::RunBinary(words, Env(), out), 2) << words[1] << " " << words[2] << ":\n" << out;
    EXPECT_NE(out.find("usage: tovalink INSTALL|UNINSTALL [SILENT]"), std::string::npos) << out;
    EXPECT_EQ(out.find("Tovalink service, version"), std::string::npos) << "refused before the banner: " << out;
    EXPECT_FALSE(platform::Env::Default()->FileExists(unit)) << words[2];
  }
  ASSERT_EQ(test::RunBinary({test::TovalinkBinary(), "INSTALL", "--help"}, Env(), out), 0) << out;
  EXPECT_FALSE(platform::Env::Default()->FileExists(unit)) << "help installs nothing";

  ASSERT_EQ(test::RunBinary({test::TovalinkBinary(), "INSTALL"}, Env(), out), 0) << out;
  EXPECT_EQ(test::RunBinary({test::TovalinkBinary(), "UNINSTALL", "everything"}, Env(), out), 2)
      << out;
  EXPECT_TRUE(platform::Env::Default()->FileExists(unit)) << "a refused UNINSTALL keeps the unit";

  ASSERT_EQ(test::RunBinary({test::TovalinkBinary(), "UNINSTALL"}, Env(), out), 0) << out;
  EXPECT_NE(out.find("Kept: the state directory " + home.Path()), std::string::npos) << out;
  EXPECT_NE(out.find("the system user tovalink"), std::string::npos) << out;
}

TEST_F(ServiceProcessTest, AFailedInstallSaysNothingWasChanged) {
  std::string out;
  std::vector<std::string> env = {"TOVALINK_HOME=" + home.Path(),
                                  "TOVALINK_UNIT_DIR=" + (units / "missing")};
  EXPECT_EQ(test::RunBinary({test::TovalinkBinary(), "INSTALL"}, env, out), 1) << out;
  EXPECT_NE(out.find("the unit directory " + (units / "missing") + " does not exist"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("nothing was changed"), std::string::npos) << out;
  EXPECT_EQ(out.find("successfully"), std::string::npos) << out;
}

TEST_F(ServiceProcessTest, VersionIsTheProjectVersion) {
  std::string out;
  ASSERT_EQ(test::RunBinary({test::TovalinkBinary(), "--version"}, Env(), out), 0) << out;
  EXPECT_EQ(out, std::string("tovalink ") + kVersion + "\n");
}

class RegCliTest : public ServiceProcessTest {
 protected:
  int Reg(std::vector<std::string> args, std::string& out) {
    args.insert(args.begin(), {test::TovalinkBinary(), "reg"});
    return test::RunBinary(args, Env(), out);
  }
};

// Before the first start there is no store: a query says so, and names
// where it looked, rather than that a key is missing.
TEST_F(RegCliTest, AQueryWithoutAStoreSaysNoneExistsAndAnUnquotedKeyGetsAHint) {
  std::string out;
  const std::string key = "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+";
  EXPECT_EQ(Reg({"query", key, "/v", "VerInterval"}, out), 1) << out;
  EXPECT_NE(out.find("no store exists at " + (home / "registry.db")), std::string::npos) << out;
  EXPECT_EQ(out.find("unable to find"), std::string::npos) << out;
  EXPECT_FALSE(platform::Env::Default()->FileExists(home / "registry.db")) << "a query makes no store";

  // As the shell hands over HKCU\SOFTWARE\Orvane Group\Tovalin+ typed bare.
  EXPECT_NE(Reg({"query", "HKCUSOFTWAREOrvane", "GroupTovalin+"}, out), 0) << out;
  EXPECT_NE(out.find("Quote the key"), std::string::npos) << out;
  EXPECT_NE(Reg({"query", key, "/x"}, out), 0) << out;
  EXPECT_EQ(out.find("Quote the key"), std::string::npos) << "a quoted key needs no hint: " << out;

  EXPECT_NE(Reg({"frob", key}, out), 0) << out;
  EXPECT_NE(out.find("unknown operation 'frob'"), std::string::npos) << out;
}

TEST_F(RegCliTest, AddQueryAndDeleteValuesAndKeys) {
  std::string out;
  const std::string key = "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+";
  ASSERT_EQ(Reg({"add", key, "/v", "VerInterval", "/t", "REG_DWORD", "/d", "10"}, out), 0) << out;
  // The first add wrote the defaults, so these values exist already.
  ASSERT_EQ(Reg({"add", key + "\\Devices", "-V", "Scale1", "/T", "reg_dword", "/D", "0x5b", "-F"}, out), 0) << out;
  ASSERT_EQ(Reg({"add", key, "/v", "ExportDir", "/d", "C:\\Data", "/f"}, out), 0) << out;

  ASSERT_EQ(Reg({"query", "HKEY_CURRENT_USER\\software\\orvane group\\TOVALIN+"}, out), 0) << out;
  EXPECT_NE(out.find("    VerInterval    REG_DWORD    0xa (10)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("    ExportDir    REG_SZ    C:\\Data\n"), std::string::npos) << out;
  EXPECT_NE(out.find("HKEY_CURRENT_USER\\SOFTWARE\\Orvane Group\\Tovalin+\\Devices"), std::string::npos) << out;
  ASSERT_EQ(Reg({"query", key + "\\Devices", "/v", "scale1"}, out), 0);
  EXPECT_NE(out.find("Scale1    REG_DWORD    0x5b"), std::string::npos) << out;

  EXPECT_NE(Reg({"add", key, "/v", "VerInterval", "/t", "REG_DWORD", "/d", "11"}, out), 0) << "needs /f";
  ASSERT_EQ(Reg({"add", key, "/v", "VerInterval", "/t", "REG_DWORD", "/d", "11", "/f"}, out), 0);

  ASSERT_EQ(Reg({"delete", key, "/v", "ExportDir", "/f"}, out), 0) << out;
  EXPECT_NE(Reg({"query", key, "/v", "ExportDir"}, out), 0);
  ASSERT_EQ(Reg({"delete", key + "\\Devices", "/f"}, out), 0);
  EXPECT_NE(Reg({"query", key + "\\Devices"}, out), 0);
  EXPECT_NE(out.find("ERROR:"), std::string::npos);
}

TEST_F(RegCliTest, FirstAddToANewStoreWritesTheDefaultsSoTheServiceStarts) {
  std::string out;
  const std::string key = "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+";
  ASSERT_EQ(Reg({"add", key, "/v", "IPAdress", "/d", "127.0.0."}, out), 0)
      << "a default is no one's setting yet, so no /f: " << out;
  EXPECT_NE(out.find("store " + home / "registry.db" + " created with defaults"), std::string::npos) << out;
  ASSERT_EQ(Reg({"query", key, "/v", "ForceDi30"}, out), 0) << out;
  ASSERT_EQ(Reg({"query", key, "/v", "IPAdress"}, out), 0) << out;
  EXPECT_NE(out.find("REG_SZ    127.0.0.\n"), std::string::npos) << "the user's value wins: " << out;
  ASSERT_EQ(Reg({"add", key, "/v", "VerInterval", "/t", "REG_DWORD", "/d", "1", "/f"}, out), 0) << out;
  EXPECT_EQ(out.find("created with defaults"), std::string::npos) << "only once: " << out;
  EXPECT_NE(Reg({"add", key, "/v", "VerInterval", "/t", "REG_DWORD", "/d", "2"}, out), 0)
      << "an existing setting still needs /f";

  Process p({test::TovalinkBinary()}, Env());
  std::string unsent = home / "drive_c/SCALEUPLOAD/ExportDir/Unsent";
  ASSERT_TRUE(
      test::WaitUntil([&] { return platform::Env::Default()->DirectoryExists(unsent); }, 5000))
      << p.Output();
  p.Signal(SIGTERM);
  ASSERT_TRUE(p.Wait(5000));
  EXPECT_EQ(p.ExitCode(), 0) << p.Output();
  EXPECT_EQ(p.Output().find("failed on start"), std::string::npos) << p.Output();
}

TEST_F(RegCliTest, RejectsBadTypesDataAndRoots) {
  std::string out;
  const std::string key = "HKCU\\SOFTWARE\\Test";
  EXPECT_NE(Reg({"add", key, "/v", "A", "/t", "REG_BINARY", "/d", "00"}, out), 0);
  EXPECT_NE(out.find("REG_BINARY"), std::string::npos);
  EXPECT_NE(Reg({"add", key, "/v", "A", "/t", "REG_DWORD", "/d", "ten"}, out), 0);
  EXPECT_NE(Reg({"add", key, "/v", "A", "/t", "REG_DWORD", "/d", "4294967296"}, out), 0);
  EXPECT_NE(Reg({"add", "HKLM\\SOFTWARE\\Test", "/v", "A", "/d", "x"}, out), 0);
  EXPECT_NE(Reg({"query", "HKCU\\SOFTWARE\\Missing"}, out), 0);
  EXPECT_NE(Reg({"delete", key}, out), 0) << "deleting needs /f";
  EXPECT_NE(Reg({"frobnicate", key}, out), 0);
}

TEST_F(RegCliTest, NamesItsStoreAndWarnsAboutWhatTheServiceMakesOfAValue) {
  std::string out;
  const std::string key = "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+";
  const std::string store = "(store " + home / "registry.db" + ")";
  auto has = [&](const std::string& part) { return out.find(part) != std::string::npos; };

  ASSERT_EQ(Reg({"add", key, "/v", "IPAddress", "/d", "127.0.0.", "/f"}, out), 0) << out;
  EXPECT_TRUE(has("WARNING: the service never reads 'IPAddress' in HKEY_CURRENT_USER\\SOFTWARE\\Orvane "
                  "Group\\Tovalin+. Did you mean 'IPAdress'?\n")) << out;
  ASSERT_EQ(Reg({"add", key + "\\Devices", "/v", "Scael2", "/t", "REG_DWORD", "/d", "7", "/f"}, out), 0) << out;
  EXPECT_TRUE(has("Did you mean 'Scale2'?")) << out;
  ASSERT_EQ(Reg({"add", key + "\\Devices", "/v", "Scale2", "/t", "REG_DWORD", "/d", "7", "/f"}, out), 0) << out;
  EXPECT_TRUE(has("WARNING: Scale2 lies beyond TotalNumber 1: the service does not read it")) << out;
  ASSERT_EQ(Reg({"add", key + "\\Devices", "/v", "Scale1", "/t", "REG_DWORD", "/d", "7", "/f"}, out), 0) << out;
  EXPECT_FALSE(has("WARNING")) << out;

  ASSERT_EQ(Reg({"add", key, "/v", "VerInterval", "/d", "5", "/f"}, out), 1) << out;
  EXPECT_TRUE(has("ERROR: VerInterval is read as REG_DWORD, not REG_SZ; nothing written")) << out;
  ASSERT_EQ(Reg({"add", key, "/v", "VerInterval", "/d", "5", "/force"}, out), 0) << out;
  EXPECT_TRUE(has("WARNING: the service reads VerInterval as REG_DWORD, not REG_SZ")) << out;
  ASSERT_EQ(Reg({"add", key, "/v", "VerInterval", "/t", "REG_DWORD", "/d", "5", "/f"}, out), 0) << out;
  EXPECT_FALSE(has("WARNING")) << out;
  EXPECT_TRUE(has("note: VerInterval takes effect at the service's next reload (systemctl reload "
                  "tovalink, or the parameter server's next write) or start\n"))
      << out;
  ASSERT_EQ(Reg({"add", key, "/v", "MonitorIP", "/d", "127.0.0.9", "/f"}, out), 0) << out;
  EXPECT_TRUE(has("note: MonitorIP takes effect at the next start of the service\n")) << out;
  // A value every cycle reads afresh needs no word.
  ASSERT_EQ(Reg({"add", key, "/v", "IPAdress", "/d", "127.0.0.", "/f"}, out), 0) << out;
  EXPECT_EQ(out, "store " + home / "registry.db" + "\nThe operation completed successfully.\n");

  ASSERT_EQ(Reg({"query", key, "/v", "IPAdress"}, out), 0) << out;
  EXPECT_EQ(out.rfind("store " + home / "registry.db" + "\n", 0), 0u) << "the first line names the store: " << out;
  EXPECT_NE(Reg({"query", key, "/v", "IPAdres"}, out), 0);
  EXPECT_TRUE(has("Did you mean 'IPAdress'? " + store)) << out;
  EXPECT_NE(Reg({"delete", key, "/v", "LFormat"}, out), 0);
  EXPECT_TRUE(has(store)) << out;
  ASSERT_EQ(Reg({"delete", key, "/v", "LFormat", "/f"}, out), 0) << out;
  EXPECT_TRUE(has("WARNING: the service needs LFormat")) << out;
}

}  // namespace
}  // namespace tv
