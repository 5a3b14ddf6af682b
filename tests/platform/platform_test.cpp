// The host layer's own contracts that the rest of the system leans on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "platform/env.h"
#include "platform/event.h"
#include "platform/fs.h"
#include "platform/instancelock.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/status.h"
#include "testutil.h"

namespace tv::platform {
namespace {

TEST(Registry, NamesFoldCaseTypesAreStrictAndDeleteTakesTheSubtree) {
  test::TempDir dir;
  Registry reg(dir / "registry.db");
  {
    RegistryKey devices = reg.Open("SOFTWARE\\Orvane Group\\Tovalin+\\Devices", true);
    ASSERT_TRUE(devices);
    devices.WriteInteger("TotalNumber", 2);
    devices.WriteString("Name", "x");
  }
  RegistryKey key = reg.OpenReadOnly("software\\ORVANE GROUP\\tovalin+\\devices");
  ASSERT_TRUE(key);
  EXPECT_EQ(key.ReadInteger("totalnumber"), 2);
  EXPECT_THROW(key.ReadInteger("Name"), RegistryError) << "a string read as an integer";
  EXPECT_THROW(key.ReadInteger("Missing"), RegistryError);
  EXPECT_EQ(key.ReadString("Missing"), "");
  EXPECT_THROW(key.ReadString("TotalNumber"), RegistryError);

  // A second connection (the store CLI) sees committed writes at once.
  Registry other(dir / "registry.db");
  RegistryKey writer = other.Open("SOFTWARE\\Orvane Group\\Tovalin+\\Devices", false);
  ASSERT_TRUE(writer);
  writer.WriteInteger("TotalNumber", 3);
  EXPECT_EQ(key.ReadInteger("TotalNumber"), 3);

  EXPECT_TRUE(reg.DeleteKey("SOFTWARE\\Orvane Group"));
  EXPECT_FALSE(reg.KeyExists("SOFTWARE\\Orvane Group\\Tovalin+\\Devices"));
  EXPECT_FALSE(key.IsOpen()) << "the open key went with its parent";
  EXPECT_TRUE(reg.KeyExists("SOFTWARE"));
  EXPECT_FALSE(reg.DeleteKey("SOFTWARE\\Orvane Group"));
}

TEST(Registry, TransactionsShowOtherConnectionsAllOrNothing) {
  test::TempDir dir;
  Registry writer(dir / "registry.db");
  Registry reader(dir / "registry.db");
  writer.Open("A", true).WriteInteger("N", 1);

  RegistryKey seen = reader.OpenReadOnly("A");
  ASSERT_TRUE(seen);
  {
    RegistryTransaction snapshot(reader, false);
    EXPECT_EQ(seen.ReadInteger("N"), 1);
    {
      RegistryTransaction t(writer, true);
      RegistryKey sub = writer.Open("A\\B", true);
      ASSERT_TRUE(sub) << "key creation joins the open transaction";
      sub.WriteInteger("M", 5);
      RegistryKey a = writer.Open("A", false);
      ASSERT_TRUE(a);
      a.WriteInteger("N", 2);
      {
        RegistryTransaction inner(writer, true);  // joins, leaves the end to the outer one
        a.WriteInteger("N", 3);
        inner.Commit();
      }
      EXPECT_TRUE(writer.InTransaction());
      t.Commit();
    }
    EXPECT_EQ(seen.ReadInteger("N"), 1) << "a read transaction keeps its snapshot";
    EXPECT_FALSE(reader.KeyExists("A\\B"));
    snapshot.Commit();
  }
  EXPECT_EQ(seen.ReadInteger("N"), 3);
  EXPECT_TRUE(reader.KeyExists("A\\B"));

  {
    RegistryTransaction abandoned(writer, true);
    RegistryKey a = writer.Open("A", false);
    ASSERT_TRUE(a);
    a.WriteInteger("N", 4);
    EXPECT_TRUE(writer.DeleteKey("A\\B"));
  }  // no Commit: rolled back
  EXPECT_FALSE(writer.InTransaction());
  EXPECT_EQ(seen.ReadInteger("N"), 3);
  EXPECT_TRUE(reader.KeyExists("A\\B"));
  EXPECT_EQ(reader.OpenReadOnly("A\\B").ReadInteger("M"), 5);
}

TEST(Paths, StoredWindowsPathsMapUnderTheStateDirectory) {
  EXPECT_EQ(MapPath("C:\\SCALEUPLOAD\\ExportDir", "/h"), "/h/drive_c/SCALEUPLOAD/ExportDir");
  EXPECT_EQ(MapPath("d:\\x\\*.*", "/h"), "/h/drive_d/x/*.*");
  EXPECT_EQ(MapPath("/srv/export", "/h"), "/srv/export");
  EXPECT_EQ(MapPath("", "/h"), "");
}

TEST(Paths, WildcardsMatchAsWindowsDoes) {
  EXPECT_TRUE(WildcardMatch("*.*", "noextension"));
  EXPECT_TRUE(WildcardMatch("*.TXT", "prices.txt"));
  EXPECT_TRUE(WildcardMatch("*price*.txt", "{GUID}price025.txt"));
  EXPECT_TRUE(WildcardMatch("p?ice.txt", "PRICE.TXT"));
  EXPECT_FALSE(WildcardMatch("p?ice.txt", "pice.txt"));
  EXPECT_FALSE(WildcardMatch("*.txt", "prices.txt.bak"));
}

TEST(Files, ACopyNeverOverwritesAndKeepsTheStamp) {
  test::TempDir dir;
  test::WriteFile(dir / "a.txt", "new");
  test::WriteFile(dir / "b.txt", "old");
  Env& env = *Env::Default();
  ASSERT_TRUE(
      env.SetLastWriteTime(dir / "a.txt", std::chrono::system_clock::from_time_t(1700000000)).ok());
  EXPECT_FALSE(CopyFileNoOverwrite(env, dir / "a.txt", dir / "b.txt").ok());
  EXPECT_EQ(test::ReadFile(dir / "b.txt"), "old");
  ASSERT_TRUE(CopyFileNoOverwrite(env, dir / "a.txt", dir / "c.txt").ok());
  FileInfo a, c;
  ASSERT_TRUE(env.GetFileInfo(dir / "a.txt", &a).ok() && env.GetFileInfo(dir / "c.txt", &c).ok());
  EXPECT_EQ(DosTimeFromUnix(std::chrono::system_clock::to_time_t(a.lastWrite)),
            DosTimeFromUnix(std::chrono::system_clock::to_time_t(c.lastWrite)));
  std::vector<FoundFile> found;
  ASSERT_TRUE(env.FindFiles(dir / "*", &found).ok());
  EXPECT_EQ(found.size(), 3u) << "no temporary file is left behind";
}

TEST(Events, ManualResetEventsStaySetUntilReset) {
  Event a("a"), b("b");
  EXPECT_EQ(WaitForAny({&a, &b}, 0), kWaitTimeout);
  b.Set();
  EXPECT_EQ(WaitForAny({&a, &b}, 0), 1);
  EXPECT_EQ(WaitForAny({&a, &b}, 0), 1) << "waiting does not consume the signal";
  a.Set();
  EXPECT_EQ(WaitForAny({&a, &b}, 0), 0) << "the first signalled event wins";
  a.Reset();
  b.Reset();
  EXPECT_FALSE(b.Wait(10));
}

// A reason without a call or a path is the message as it stands; a failed
// call names both.  A Result holds its value or its Status, never both.
TEST(Status, ReasonsReadAsTheOperatorSeesThemAndResultsCarryThem) {
  EXPECT_EQ(Refusal("no fault given").ToString(), "no fault given");
  EXPECT_EQ(Status::IOError({}, {}, ENOENT).ToString(), "No such file or directory");
  EXPECT_EQ(Status::IOError("cannot open", "/x/tovalink.lock", EACCES).ToString(),
            "cannot open /x/tovalink.lock: Permission denied");
  EXPECT_TRUE(Status::IOError("cannot open", "/x", EACCES).IsPermissionDenied());

  Result<std::string> value(std::string("kept"));
  ASSERT_TRUE(value.ok());
  EXPECT_EQ(value.value(), "kept");
  EXPECT_EQ(value->size(), 4u);
  Result<std::string> failed(Refusal("why"));
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.status().ToString(), "why");
}

TEST(InstanceLock, ASecondHolderIsTurnedAwayWithTheFirstOnesPid) {
  test::TempDir dir;
  InstanceLock first;
  long pid = -1;
  ASSERT_TRUE(first.Acquire(dir / "state", pid).ok());
  InstanceLock second;
  const Status refused = second.Acquire(dir / "state", pid);
  EXPECT_EQ(refused.osError(), EWOULDBLOCK) << refused.ToString();
  EXPECT_EQ(pid, static_cast<long>(getpid()));

  ASSERT_TRUE(Env::Default()->WriteFile(dir / "file", "x").ok());
  const Status unusable = second.Acquire(dir / "file", pid);
  EXPECT_FALSE(unusable.ok());
  EXPECT_NE(unusable.osError(), EWOULDBLOCK);
  EXPECT_EQ(unusable.ToString().rfind("cannot open " + (dir / "file") + "/tovalink.lock: ", 0), 0u)
      << unusable.ToString();
}

TEST(UnitFiles, WrittenRemovedAndRefusedWithTheOperatorsReason) {
  test::TempDir dir;
  EXPECT_EQ(WriteUnitFile(dir / "none", "t.service", "x").ToString(),
            "the unit directory " + (dir / "none") + " does not exist");
  ASSERT_TRUE(WriteUnitFile(dir.Path(), "t.service", "[Unit]\n").ok());
  EXPECT_TRUE(FileExists(dir / "t.service"));
  ASSERT_TRUE(RemoveUnitFile(dir.Path(), "t.service").ok());
  EXPECT_EQ(RemoveUnitFile(dir.Path(), "t.service").ToString(),
            "the service is not installed (" + (dir / "t.service") + " does not exist)");
}

}  // namespace
}  // namespace tv::platform
