// What the service does with its state directory and its signals: one
// instance per directory, no defaults over a store that lost its keys, no
// network share taken for a local directory, SIGHUP as a reload.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "config/statusprotocol.h"
#include "platform/net.h"
#include "site.h"

namespace tv::test {
namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// True once the running service answers a status request.
bool ServiceAnswers() {
  return WaitUntil(
      [] {
        platform::TcpSocket s;
        uint8_t n = 0;
        return s.Create() && s.SetRecvTimeout(2000) && s.Connect("127.0.0.1", kStatusPort) &&
               s.SendAll(&kStatusRequest, 1) && s.RecvByte(n);
      },
      10000);
}

std::vector<std::string> HomeEnv(const TempDir& home) { return {"TOVALINK_HOME=" + home.Path(), "LANG=C"}; }

TEST(StartupEndToEnd, ASecondServiceOnTheSameStateDirectoryIsTurnedAway) {
  Site site;
  site.AddScale(91);
  site.Start();
  ASSERT_TRUE(ServiceAnswers());
  std::string out;
  EXPECT_EQ(RunBinary({TovalinkBinary()}, HomeEnv(site.home), out, 10000), 1) << out;
  const std::string expected = "another Tovalink runs on " + site.home.Path() + " (pid " +
                               std::to_string(site.service->Pid()) + ")";
  EXPECT_TRUE(Has(out, expected)) << out;

  // The first one goes on alone: one delivery, one log line.
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(1));
  EXPECT_EQ(site.Scale(91).Connections(), 1);
  EXPECT_EQ(site.Stop(), 0) << site.output;
  EXPECT_EQ(site.Log().size(), 1u);
}

TEST(StartupEndToEnd, AStoreWithoutItsKeyStopsTheStartOnlyAMissingOneGetsDefaults) {
  TempDir home;
  const std::string store = home / "registry.db";
  WriteFile(store, "");
  std::string out;
  EXPECT_EQ(RunBinary({TovalinkBinary()}, HomeEnv(home), out, 10000), 1) << out;
  EXPECT_TRUE(Has(out, store)) << out;
  EXPECT_TRUE(Has(out, "remove the file to start on the defaults")) << out;
  EXPECT_EQ(std::filesystem::file_size(store), 0u) << "the emptied store is left for the operator";

  // Reading a store that is not there creates nothing, so the service can
  // still make it later; the first write puts the defaults in first.
  TempDir fresh;
  EXPECT_NE(RunBinary({TovalinkBinary(), "reg", "query", "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+"}, HomeEnv(fresh),
                      out),
            0)
      << out;
  EXPECT_NE(RunBinary({TovalinkBinary(), "scale", "list"}, HomeEnv(fresh), out), -1) << out;
  EXPECT_FALSE(platform::Env::Default()->FileExists(fresh / "registry.db"));
  ASSERT_EQ(RunBinary({TovalinkBinary(), "reg", "add", "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+", "/v", "IPAdress",
                       "/t", "REG_SZ", "/d", "127.0.0.", "/f"},
                      HomeEnv(fresh), out),
            0)
      << out;
  EXPECT_TRUE(Has(out, "created with defaults")) << out;
  Process service({TovalinkBinary()}, HomeEnv(fresh));
  EXPECT_TRUE(ServiceAnswers()) << "a store the CLI made starts the service";
  service.Signal(SIGTERM);
  ASSERT_TRUE(service.Wait(30000));
  EXPECT_EQ(service.ExitCode(), 0) << service.Output();
}

TEST(StartupEndToEnd, ANetworkSharePathIsRefusedWithWhatToDoInstead) {
  for (const char* name : {"ExportDir", "LogoDir"}) {
    Site site;
    const std::string share = std::string("\\\\server-") + name + "\\share\\prices";
    site.SetString(name, share);
    site.Start();
    ASSERT_TRUE(site.service->Wait(10000)) << name;
    EXPECT_EQ(site.service->ExitCode(), 1) << name;
    const std::string out = site.service->Output();
    EXPECT_TRUE(Has(out, name + std::string(" \"") + share + "\" is a network share")) << out;
    EXPECT_TRUE(Has(out, "mount the share and store its mount point")) << out;
    EXPECT_FALSE(std::filesystem::exists(std::string("/server-") + name)) << "nothing made at the root";
  }
}

TEST(StartupEndToEnd, SighupReloadsTheStoredSettingsAndTheServiceGoesOn) {
  Site site;
  site.AddScale(91);
  site.Start();
  ASSERT_TRUE(ServiceAnswers());
  // The timer watches the export directory the engine holds: a file in a
  // directory written to the store only is seen after a reload.
  const std::string moved = site.home / "export2";
  site.SetString("ExportDir", moved);
  site.service->Signal(SIGHUP);
  ASSERT_TRUE(WaitUntil(
      [&] { return platform::Env::Default()->DirectoryExists(moved + "/Unsent"); }, 10000))
      << "the reload makes the new directories; " << site.service->Output();
  WriteFile(moved + "/prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(1)) << site.service->Output();
  EXPECT_EQ(site.Log()[0].code, 0);
  EXPECT_TRUE(Has(site.service->Output(), "settings reloaded"));
  EXPECT_EQ(site.Stop(), 0) << site.output;
}

}  // namespace
}  // namespace tv::test
