// The host layer's own contracts that the rest of the system leans on.
#include <gtest/gtest.h>

#include "platform/event.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "testutil.h"

namespace tv::platform {
namespace {

TEST(Registry, NamesFoldCaseTypesAreStrictAndDeleteTakesTheSubtree) {
  test::TempDir dir;
  Registry reg(dir / "registry.db");
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Orvane Group\\Tovalin+\\Devices", true));
  reg.WriteInteger("TotalNumber", 2);
  reg.WriteString("Name", "x");
  reg.CloseKey();
  ASSERT_TRUE(reg.OpenKeyReadOnly("software\\ORVANE GROUP\\tovalin+\\devices"));
  EXPECT_EQ(reg.ReadInteger("totalnumber"), 2);
  EXPECT_THROW(reg.ReadInteger("Name"), RegistryError) << "a string read as an integer";
  EXPECT_THROW(reg.ReadInteger("Missing"), RegistryError);
  EXPECT_EQ(reg.ReadString("Missing"), "");
  EXPECT_THROW(reg.ReadString("TotalNumber"), RegistryError);

  // A second connection (the store CLI) sees committed writes at once.
  Registry other(dir / "registry.db");
  ASSERT_TRUE(other.OpenKey("SOFTWARE\\Orvane Group\\Tovalin+\\Devices", false));
  other.WriteInteger("TotalNumber", 3);
  EXPECT_EQ(reg.ReadInteger("TotalNumber"), 3);

  EXPECT_TRUE(reg.DeleteKey("SOFTWARE\\Orvane Group"));
  EXPECT_FALSE(reg.KeyExists("SOFTWARE\\Orvane Group\\Tovalin+\\Devices"));
  EXPECT_FALSE(reg.HasCurrentKey()) << "the open key went with its parent";
  EXPECT_TRUE(reg.KeyExists("SOFTWARE"));
  EXPECT_FALSE(reg.DeleteKey("SOFTWARE\\Orvane Group"));
}

TEST(Registry, TransactionsShowOtherConnectionsAllOrNothing) {
  test::TempDir dir;
  Registry writer(dir / "registry.db");
  Registry reader(dir / "registry.db");
  ASSERT_TRUE(writer.OpenKey("A", true));
  writer.WriteInteger("N", 1);
  writer.CloseKey();

  {
    RegistryTransaction snapshot(reader, false);
    ASSERT_TRUE(reader.OpenKeyReadOnly("A"));
    EXPECT_EQ(reader.ReadInteger("N"), 1);
    {
      RegistryTransaction t(writer, true);
      ASSERT_TRUE(writer.OpenKey("A\\B", true)) << "key creation joins the open transaction";
      writer.WriteInteger("M", 5);
      ASSERT_TRUE(writer.OpenKey("A", false));
      writer.WriteInteger("N", 2);
      {
        RegistryTransaction inner(writer, true);  // joins, leaves the end to the outer one
        writer.WriteInteger("N", 3);
        inner.Commit();
      }
      EXPECT_TRUE(writer.InTransaction());
      t.Commit();
    }
    EXPECT_EQ(reader.ReadInteger("N"), 1) << "a read transaction keeps its snapshot";
    EXPECT_FALSE(reader.KeyExists("A\\B"));
    snapshot.Commit();
  }
  EXPECT_EQ(reader.ReadInteger("N"), 3);
  EXPECT_TRUE(reader.KeyExists("A\\B"));

  {
    RegistryTransaction abandoned(writer, true);
    ASSERT_TRUE(writer.OpenKey("A", false));
    writer.WriteInteger("N", 4);
    EXPECT_TRUE(writer.DeleteKey("A\\B"));
  }  // no Commit: rolled back
  EXPECT_FALSE(writer.InTransaction());
  EXPECT_EQ(reader.ReadInteger("N"), 3);
  EXPECT_TRUE(reader.KeyExists("A\\B"));
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
  ASSERT_TRUE(SetLastWriteTime(dir / "a.txt", 1700000000));
  EXPECT_FALSE(CopyFileNoOverwrite(dir / "a.txt", dir / "b.txt"));
  EXPECT_EQ(test::ReadFile(dir / "b.txt"), "old");
  ASSERT_TRUE(CopyFileNoOverwrite(dir / "a.txt", dir / "c.txt"));
  int32_t a = 0, c = 0;
  ASSERT_TRUE(FileDosTime(dir / "a.txt", a) && FileDosTime(dir / "c.txt", c));
  EXPECT_EQ(a, c);
  std::vector<FoundFile> found;
  ASSERT_TRUE(FindFiles(dir / "*", found));
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

}  // namespace
}  // namespace tv::platform
