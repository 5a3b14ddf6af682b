// The real service laid out as the package runs it: as an unprivileged user
// of its own, with a back office writing as a second user through the
// service's group (umask 022, a set-group-ID export directory) and root
// configuring the store.  Taking the users' identities needs root; without
// it every case skips.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "site.h"

namespace tv::test {
namespace {

// Numeric ids: no account needs to exist for them.
constexpr uid_t kService = 64201;     // the service's user and group
constexpr uid_t kBackOffice = 64202;  // a member of the service's group

const std::string kProduct = "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+";

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// setpriv before a command runs it as `uid`, with `group` as its only
// supplementary group when given.
std::vector<std::string> As(uid_t uid, gid_t group = 0) {
  return {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid), "--regid=" + std::to_string(uid),
          group ? "--groups=" + std::to_string(group) : "--clear-groups"};
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) st.st_uid = static_cast<uid_t>(-1);
  return st;
}

std::vector<LogLine> LinesFor(const Site& site, const std::string& file) {
  std::vector<LogLine> out;
  for (const LogLine& l : site.Log())
    if (l.file == file) out.push_back(l);
  return out;
}

class Ownership : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "running as other users needs root";
    site.launcher = As(kService);
  }
  void TearDown() override {
    site.Stop();
    for (const char* mounted : {"/var/lib/tovalink", "/var/lib"})
      if (privateVarLib_) ::umount2(mounted, MNT_DETACH);
  }

  // The state directory becomes the service's (0750, as StateDirectory=
  // makes it), the export directory its group's to write into.
  void HandOver() {
    std::filesystem::create_directories(site.exportDir);
    std::filesystem::create_directories(site.logDir);
    for (const auto& e : std::filesystem::recursive_directory_iterator(site.home.Path()))
      ASSERT_EQ(::lchown(e.path().c_str(), kService, kService), 0) << e.path();
    ASSERT_EQ(::chown(site.home.Path().c_str(), kService, kService), 0);
    ASSERT_EQ(::chmod(site.home.Path().c_str(), 0750), 0);
    ASSERT_EQ(::chmod(site.exportDir.c_str(), 02770), 0);
  }

  // As the back office writes: its own user, umask 022, a hidden name
  // renamed into place.
  void DropAsBackOffice(const std::string& name, const std::string& content) {
    std::vector<std::string> args = As(kBackOffice, kService);
    for (std::string a :
         {"/bin/sh", "-c", "umask 022 && printf '%s' \"$3\" > \"$1\" && mv \"$1\" \"$2\"", "sh"})
      args.push_back(a);
    args.push_back(site.exportDir + "/." + name + ".part");
    args.push_back(site.exportDir + "/" + name);
    args.push_back(content);
    std::string out;
    ASSERT_EQ(RunBinary(args, {}, out), 0) << out;
  }

  int Tovalink(std::vector<std::string> prefix, const std::vector<std::string>& args,
               const std::vector<std::string>& env, std::string& out) {
    prefix.push_back(TovalinkBinary());
    prefix.insert(prefix.end(), args.begin(), args.end());
    return RunBinary(prefix, env, out);
  }

  // /var/lib of this process and its children is an empty directory with
  // the site's state directory as /var/lib/tovalink, as the package lays
  // it out; the host's own stays untouched.
  void PackagedStateDirectory() {
    ASSERT_EQ(::chmod(varLib_.Path().c_str(), 0755), 0);
    std::filesystem::create_directory(varLib_ / "tovalink");
    ASSERT_EQ(::unshare(CLONE_NEWNS), 0) << "a mount namespace of its own";
    privateVarLib_ = true;
    ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    ASSERT_EQ(::mount(varLib_.Path().c_str(), "/var/lib", nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(::mount(site.home.Path().c_str(), "/var/lib/tovalink", nullptr, MS_BIND, nullptr), 0);
  }

  Site site;

 private:
  TempDir varLib_;
  bool privateVarLib_ = false;
};

TEST_F(Ownership, ABackOfficeFileTheServiceMayNotLinkIsRejectedOnceNotEveryCycle) {
  if (ReadFile("/proc/sys/fs/protected_hardlinks") != "1\n")
    GTEST_SKIP() << "only fs.protected_hardlinks=1 forbids linking another user's file";
  site.AddScale(5);
  site.SetScales({5});
  HandOver();
  DropAsBackOffice("junk.txt", "this is no goods file\r\n");
  const struct stat junk = StatOf(site.exportDir + "/junk.txt");
  ASSERT_EQ(junk.st_uid, kBackOffice);
  ASSERT_EQ(junk.st_gid, kService) << "the set-group-ID bit gives it the service's group";
  ASSERT_EQ(junk.st_mode & 07777, 0644u);

  site.Start();
  ASSERT_TRUE(WaitUntil([&] { return site.Rejected() == std::vector<std::string>{"junk.txt"}; },
                        Scaled(20000)))
      << site.Output();
  // A cycle after the rejection: a file left behind would be logged again.
  DropAsBackOffice("good.txt", GoodsFile());
  ASSERT_TRUE(WaitUntil([&] { return !LinesFor(site, "good.txt").empty(); }, Scaled(20000)))
      << site.Output();
  EXPECT_EQ(site.Stop(), 0);

  EXPECT_FALSE(platform::Env::Default()->FileExists(site.exportDir + "/junk.txt"));
  EXPECT_EQ(StatOf(site.exportDir + "/Rejected/junk.txt").st_ino, junk.st_ino)
      << "moved, not copied";
  const auto lines = LinesFor(site, "junk.txt");
  ASSERT_EQ(lines.size(), 1u) << site.output;
  EXPECT_EQ(lines[0].code, 6);
  EXPECT_FALSE(Has(site.output, "kept where it is")) << site.output;
  EXPECT_EQ(LinesFor(site, "good.txt")[0].code, 0);
}

// The README's order on a new machine: configure as root, then start.
TEST_F(Ownership, AStoreRootConfiguresBeforeTheFirstStartIsTheServicesAndKeepsItsResults) {
  site.AddScale(5);
  for (const char* side : {"", "-wal", "-shm"}) std::filesystem::remove(site.StorePath() + side);
  HandOver();
  const std::vector<std::string> home = {"TOVALINK_HOME=" + site.home.Path()};
  const std::vector<std::vector<std::string>> commands = {
      {"reg", "add", kProduct, "/v", "IPAdress", "/d", "127.0.0.", "/f"},
      {"reg", "add", kProduct, "/v", "SocketPort", "/t", "REG_DWORD", "/d",
       std::to_string(kGoodsPortBase), "/f"},
      {"reg", "add", kProduct, "/v", "VerInterval", "/t", "REG_DWORD", "/d", "1", "/f"},
      {"reg", "add", kProduct, "/v", "ExportDir", "/d", site.exportDir, "/f"},
      {"reg", "add", kProduct, "/v", "LogoDir", "/d", site.logDir, "/f"},
      {"scale", "remove", "91"},
      {"scale", "add", "5", "--type", "bench"}};
  std::string out;
  for (const auto& command : commands)
    ASSERT_EQ(Tovalink({}, command, home, out), 0) << command[3] << ": " << out;
  for (const char* side : {"", "-wal", "-shm", "-journal"}) {
    const std::string file = site.StorePath() + side;
    if (platform::Env::Default()->FileExists(file)) {
      EXPECT_EQ(StatOf(file).st_uid, kService) << file;
    }
  }

  site.Start();
  DropAsBackOffice("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  EXPECT_TRUE(WaitUntil([&] { return site.Results()["5"] == 1; }, Scaled(10000)))
      << "the delivery's result is stored: " << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_FALSE(Has(site.output, "not stored")) << site.output;
}

// Root (through sudo) resends: the parked copy and the ledger's files stay
// the service's, and the service log names who asked.
TEST_F(Ownership, ARootResendIsTheServicesAndTheLogSaysWhoAsked) {
  site.AddScale(5);
  site.SetScales({5});
  HandOver();
  site.Start();
  DropAsBackOffice("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  ASSERT_EQ(site.Stop(), 0);
  std::string out;
  ASSERT_EQ(Tovalink({}, {"resend", "--scale", "5"},
                     {"TOVALINK_HOME=" + site.home.Path(), "SUDO_USER=anna"}, out),
            0)
      << out;
  ASSERT_EQ(site.Unsent().size(), 1u);
  EXPECT_EQ(StatOf(site.exportDir + "/Unsent/" + site.Unsent()[0]).st_uid, kService);
  for (const char* side : {"", "-wal", "-shm"}) {
    const std::string file = site.home / (std::string("ledger.db") + side);
    if (platform::Env::Default()->FileExists(file)) {
      EXPECT_EQ(StatOf(file).st_uid, kService) << file;
    }
  }

  site.Start();
  ASSERT_TRUE(WaitUntil([&] { return site.Unsent().empty(); }, Scaled(20000))) << site.Output();
  ASSERT_TRUE(WaitUntil(
      [&] {
        return Has(site.Output(),
                   "uid 0 (root), through sudo by anna asked to give scale 5 again the 1 goods "
                   "records it holds");
      },
      Scaled(10000)))
      << site.Output();
  EXPECT_EQ(site.Stop(), 0);
}

// A store that root replaces or rewrites whole stays the service's: else
// the next start fails on a store it cannot write.
TEST_F(Ownership, AStoreRootRestoresOrAppliesAConfigurationToRemainsTheServiceUsers) {
  HandOver();
  const std::vector<std::string> home = {"TOVALINK_HOME=" + site.home.Path()};
  const std::string backup = site.home / "shop.db";
  const std::string conf = site.home / "shop.conf";
  std::string out;
  ASSERT_EQ(Tovalink({}, {"store", "backup", backup}, home, out), 0) << out;
  EXPECT_EQ(StatOf(backup).st_uid, kService);
  ASSERT_EQ(Tovalink({}, {"store", "restore", backup}, home, out), 0) << out;
  EXPECT_EQ(StatOf(site.StorePath()).st_uid, kService);
  ASSERT_EQ(Tovalink({}, {"config", "dump"}, home, out), 0) << out;
  std::string file;
  for (const std::string& line : Lines(out))
    if (line.rfind("store ", 0) != 0) file += line + "\n";
  file.replace(file.find("VerInterval = 1\n"), 16, "VerInterval = 2\n");
  WriteFile(conf, file);
  ASSERT_EQ(Tovalink({}, {"config", "apply", conf}, home, out), 0) << out;
  EXPECT_TRUE(Has(out, "set VerInterval = 2 (was 1)")) << out;
  for (const char* side : {"", "-wal", "-shm"}) {
    const std::string f = site.StorePath() + side;
    if (platform::Env::Default()->FileExists(f)) {
      EXPECT_EQ(StatOf(f).st_uid, kService) << f;
    }
  }
  EXPECT_EQ(Tovalink(As(kService), {"check"}, home, out), 0) << out;
}

TEST_F(Ownership, TheServiceDoesNotStartOnAStoreItCannotWriteAndCheckSaysWhy) {
  HandOver();
  ASSERT_EQ(::chown(site.StorePath().c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(site.StorePath().c_str(), 0644), 0);
  const std::string fix =
      "chown " + std::to_string(kService) + ":" + std::to_string(kService) + " " + site.StorePath();

  site.Start();
  ASSERT_TRUE(site.service->Wait(Scaled(20000))) << "the start fails: " << site.Output();
  EXPECT_EQ(site.service->ExitCode(), 1);
  const std::string started = site.Output();
  EXPECT_TRUE(Has(started, "the store " + site.StorePath() + " cannot be written")) << started;
  EXPECT_TRUE(Has(started, fix)) << "the mend: " << started;

  const std::vector<std::string> home = {"TOVALINK_HOME=" + site.home.Path()};
  std::string out;
  EXPECT_EQ(Tovalink(As(kService), {"check"}, home, out), 1) << out;
  EXPECT_TRUE(Has(out, "error: the store " + site.StorePath() + " cannot be written")) << out;
  EXPECT_TRUE(Has(out, fix)) << out;
  EXPECT_EQ(Tovalink({}, {"check"}, home, out), 1) << "root checks as the service's user: " << out;
  EXPECT_TRUE(Has(out, "error: the store " + site.StorePath() + " cannot be written")) << out;
  EXPECT_EQ(Tovalink({}, {"scale", "add", "6", "--type", "bench"}, home, out), 1) << out;
  EXPECT_TRUE(Has(out, "readonly database: " + site.StorePath() + " belongs to root:root")) << out;
  EXPECT_TRUE(Has(out, fix)) << "the edit fails with the mend: " << out;
}

TEST_F(Ownership, CommandsWithoutTovalinkHomeUseThePackagedStateDirectory) {
  site.AddScale(5);
  site.AddScale(6);
  site.SetScales({5});
  PackagedStateDirectory();
  HandOver();
  TempDir userHome;
  ASSERT_EQ(::chown(userHome.Path().c_str(), kService, kService), 0);
  site.Start({"TOVALINK_HOME=/var/lib/tovalink"});

  std::string out;
  ASSERT_EQ(Tovalink(As(kService), {"scale", "add", "6", "--type", "bench"},
                     {"HOME=" + userHome.Path()}, out),
            0)
      << out;
  EXPECT_TRUE(Has(out, "store /var/lib/tovalink/registry.db\n")) << out;
  EXPECT_FALSE(std::filesystem::exists(userHome / ".local"))
      << "no second store under the user's home";
  DropAsBackOffice("prices.txt", GoodsFile());
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const LogLine& l : site.Log())
          if (l.address == "127.0.0.6") return true;
        return false;
      },
      Scaled(20000)))
      << "the scale the command added is served: " << site.Output();

  ASSERT_EQ(Tovalink({}, {"scale", "list"}, {}, out), 0) << out;
  EXPECT_EQ(Lines(out)[0], "store /var/lib/tovalink/registry.db") << out;
  EXPECT_TRUE(Has(out, "127.0.0.6")) << out;
  // A user outside the service's group sees no store, and is told why
  // rather than shown an empty list.
  for (const char* command : {"scale", "check"}) {
    std::vector<std::string> args = {command};
    if (args[0] == "scale") args.push_back("list");
    EXPECT_EQ(Tovalink(As(kBackOffice + 1), args, {"HOME=" + userHome.Path()}, out), 1) << out;
    EXPECT_TRUE(Has(out, "/var/lib/tovalink belongs to 64201: run the command as root or as 64201"))
        << out;
  }
}

TEST_F(Ownership, AStoreNoPackagedServiceReadsIsMadeOnlyWithANote) {
  if (platform::Env::Default()->DirectoryExists(platform::kPackagedStateHome))
    GTEST_SKIP() << "this host has the package's";
  TempDir userHome;
  ASSERT_EQ(::chown(userHome.Path().c_str(), kService, kService), 0);
  std::string out;
  ASSERT_EQ(Tovalink(As(kService), {"scale", "add", "6", "--type", "bench"},
                     {"HOME=" + userHome.Path()}, out),
            0)
      << out;
  const std::string store = userHome / ".local/state/tovalink/registry.db";
  EXPECT_TRUE(Has(out, "store " + store + " created with defaults\n")) << out;
  EXPECT_TRUE(
      Has(out, "note: the packaged service reads /var/lib/tovalink/registry.db, not this store"))
      << out;
}

}  // namespace
}  // namespace tv::test
