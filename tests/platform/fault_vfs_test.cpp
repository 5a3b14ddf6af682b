// The store on a failing disk: injected write faults reach SQLite's files,
// a refused write changes nothing, and the store is whole and writable
// again once the disk is.
#include "platform/fault_vfs.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/registry.h"
#include "sqlite_integrity.h"
#include "testutil.h"

namespace tv::platform {
namespace {

class StoreFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InstallStoreFaults(&env_)); }
  void TearDown() override { RemoveStoreFaults(); }

  FaultInjectionEnv env_{Env::Default()};
  test::TempDir dir_;
};

TEST_F(StoreFaultsTest, AFullDiskRefusesTheWriteAndLeavesTheStoreAsItWas) {
  const std::string path = dir_ / "registry.db";
  {
    Registry reg(path);
    RegistryKey key = reg.Open("Software\\Shop", true);
    key.WriteInteger("Price", 150);
    env_.AddFault(FileFault{FileOp::kWrite, "*/registry.db*", ENOSPC});
    try {
      key.WriteInteger("Price", 275);
      ADD_FAILURE() << "the write went through a full disk";
    } catch (const RegistryError& e) {
      EXPECT_NE(std::string(e.what()).find("full"), std::string::npos) << e.what();
    }
    EXPECT_GT(env_.Failures(), 0);
    EXPECT_EQ(key.ReadInteger("Price"), 150);
    env_.ClearFaults();
    key.WriteInteger("Price", 300);
  }
  EXPECT_EQ(test::IntegrityCheck(path), "ok");
  Registry reopened(path);
  EXPECT_EQ(reopened.OpenReadOnly("Software\\Shop").ReadInteger("Price"), 300);
}

TEST_F(StoreFaultsTest, OnlyTheChosenFilesFailAndOtherErrorsAreIoErrors) {
  env_.AddFault(FileFault{FileOp::kWrite, "*/other.db*", EIO});
  Registry reg(dir_ / "registry.db");
  RegistryKey key = reg.Open("Software\\Shop", true);
  key.WriteString("Name", "kept");
  EXPECT_EQ(env_.Failures(), 0) << "a pattern for another store";
  EXPECT_GT(env_.Calls(FileOp::kWrite), 0) << "the store's writes were asked";

  try {
    Registry other(dir_ / "other.db");
    other.Open("Software\\Shop", true).WriteString("Name", "lost");
    ADD_FAILURE() << "the store was written through a failing disk";
  } catch (const RegistryError& e) {
    EXPECT_NE(std::string(e.what()).find("I/O"), std::string::npos) << e.what();
  }
  EXPECT_GT(env_.Failures(), 0);
  EXPECT_EQ(key.ReadString("Name"), "kept");
}

}  // namespace
}  // namespace tv::platform
