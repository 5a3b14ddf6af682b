// Delivered files that the service cannot remove, end to end: such a file is
// delivered once and then left alone while it stays unchanged, across
// restarts, and `tovalink status` names it; and a service that could not
// remove anything from its directories refuses to start instead.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "site.h"

namespace tv::test {
namespace {

constexpr char kRemovalFails[] = "TOVALINK_TEST_FAULTS=remove:EACCES:path=*/export/prices.txt";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Each file drop is followed until the scale has one connection more, so a
// cycle after the undeletable file's has surely run.
void DeliverAnother(Site& site, const std::string& name, int connections) {
  site.Drop(name, GoodsFile(200 + connections));
  ASSERT_TRUE(site.Scale(1).WaitForConnections(connections, 30000)) << site.Output();
  ASSERT_TRUE(WaitUntil(
      [&] { return !platform::Env::Default()->FileExists(site.exportDir + "/" + name); }, 10000));
}

TEST(RemovalEndToEnd, ADeliveredFileThatCannotBeRemovedIsDeliveredOnceWhileItStaysUnchanged) {
  Site site;
  site.AddScale(1);
  site.SetScales({1});
  site.Drop("prices.txt", GoodsFile(101));
  site.Start({kRemovalFails});
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  DeliverAnother(site, "second.txt", 2);
  DeliverAnother(site, "third.txt", 3);
  EXPECT_EQ(site.Scale(1).Connections(), 3) << "prices.txt was delivered again";
  EXPECT_EQ(Count(site.Output(), "prices.txt was delivered but cannot be removed"), 1u)
      << site.Output();
  EXPECT_TRUE(platform::Env::Default()->FileExists(site.exportDir + "/prices.txt"));

  std::string out;
  // Delivered, but the file needs a hand: exit 4.
  ASSERT_EQ(RunBinary({TovalinkBinary(), "status"}, {"TOVALINK_HOME=" + site.home.Path()}, out), 4)
      << out;
  EXPECT_NE(out.find("Delivered but not removable"), std::string::npos) << out;
  EXPECT_NE(out.find(site.exportDir + "/prices.txt"), std::string::npos) << out;
  ASSERT_EQ(
      RunBinary({TovalinkBinary(), "status", "--json"}, {"TOVALINK_HOME=" + site.home.Path()}, out),
      4)
      << out;
  EXPECT_NE(out.find("\"undeletable_files\": [\"" + site.exportDir + "/prices.txt\"]"),
            std::string::npos)
      << out;

  // Remembered across a restart: not delivered, not reported again.
  ASSERT_EQ(site.Stop(), 0);
  site.Start({kRemovalFails});
  DeliverAnother(site, "fourth.txt", 4);
  EXPECT_EQ(site.Scale(1).Connections(), 4);
  EXPECT_EQ(Count(site.Output(), "cannot be removed"), 0u) << site.Output();

  // New data under the same name is delivered again.
  site.Drop("prices.txt", GoodsFile(102) + "T202403050908\r\n");
  ASSERT_TRUE(site.Scale(1).WaitForConnections(5, 30000)) << site.Output();
  ASSERT_TRUE(site.WaitForLog(5)) << site.Output();
  EXPECT_EQ(site.Log().back().file, "prices.txt");
  EXPECT_EQ(site.Stop(), 0);
}

TEST(RemovalEndToEnd, AReloadOntoADirectoryTheServiceCannotWriteIsRefused) {
  Site site;
  site.AddScale(1);
  site.SetScales({1});
  site.Start({"TOVALINK_TEST_FAULTS=create:EACCES:path=*/elsewhere/*"});
  ASSERT_TRUE(WaitUntil([&] { return Count(site.Output(), "scale list") > 0; }, 10000))
      << site.Output();
  site.SetString("ExportDir", site.home / "elsewhere");
  site.service->Signal(SIGHUP);
  ASSERT_TRUE(WaitUntil([&] { return Count(site.Output(), "settings not reloaded") > 0; }, 10000))
      << site.Output();
  EXPECT_EQ(Count(site.Output(),
                  "directory " + site.home / "elsewhere" + " is not writable for the service"),
            1u)
      << site.Output();
  EXPECT_EQ(site.Stop(), 0) << "the service goes on with the settings it had";
}

void Chown(const std::string& path, uid_t uid, gid_t gid) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
    ASSERT_EQ(::lchown(entry.path().c_str(), uid, gid), 0) << entry.path();
  ASSERT_EQ(::chown(path.c_str(), uid, gid), 0) << path;
}

// As a back office set up without the service's write permission: the
// export directory and its file belong to another user.  Before, the
// service started, delivered the file, failed to remove it and delivered it
// again every cycle.
TEST(RemovalEndToEnd, AnExportDirectoryTheServiceCannotWriteStopsTheStartAndTheCheck) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the service as another user";
  constexpr uid_t kNobody = 65534;
  constexpr gid_t kNogroup = 65534;
  Site site;
  site.AddScale(1);
  site.SetScales({1});
  ASSERT_TRUE(std::filesystem::create_directories(site.logDir));
  Chown(site.home.Path(), kNobody, kNogroup);
  // Root's directory inside the service's home, readable by all.
  ASSERT_TRUE(std::filesystem::create_directories(site.exportDir + "/Unsent"));
  site.Drop("prices.txt", GoodsFile(101));
  ASSERT_EQ(::chmod(site.exportDir.c_str(), 0755), 0);
  ASSERT_EQ(::chmod((site.exportDir + "/Unsent").c_str(), 0755), 0);

  const std::vector<std::string> asNobody = {"/usr/bin/setpriv", "--reuid=nobody",
                                             "--regid=nogroup", "--clear-groups", TovalinkBinary()};
  const std::vector<std::string> env = {"TOVALINK_HOME=" + site.home.Path(), "LANG=C", "LC_ALL=C",
                                        "TOVALINK_TEST_QUIET_MS=0",
                                        "INVOCATION_ID=0123456789abcdef"};
  Process service(asNobody, env);
  ASSERT_TRUE(service.Wait(30000)) << "the service started: " << service.Output();
  EXPECT_NE(service.ExitCode(), 0);
  const std::string out = service.Output();
  EXPECT_NE(out.find("directory " + site.exportDir + " is not writable"), std::string::npos) << out;
  EXPECT_NE(out.find("Permission denied"), std::string::npos) << out;
  EXPECT_NE(out.find("systemctl edit tovalink"), std::string::npos) << out;
  EXPECT_NE(out.find("\"[Service]\" and \"ReadWritePaths=" + site.exportDir + "\""),
            std::string::npos)
      << out;
  EXPECT_EQ(site.Scale(1).Connections(), 0);

  // Root's check proves it as the owner of the state directory would.
  std::string check;
  EXPECT_EQ(RunBinary({TovalinkBinary(), "check"}, {"TOVALINK_HOME=" + site.home.Path()}, check), 1)
      << check;
  EXPECT_NE(check.find("directory " + site.exportDir + " is not writable"), std::string::npos)
      << check;
}

}  // namespace
}  // namespace tv::test
