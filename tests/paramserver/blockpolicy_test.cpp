// Which directories a remote parameter block may name.
#include "paramserver/blockpolicy.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs.h"
#include "testutil.h"

namespace tv {
namespace {

class BlockPolicyTest : public ::testing::Test {
 protected:
  BlockPolicyTest() {
    ::mkdir((dir_ / "allowed").c_str(), 0755);
    ::mkdir((dir_ / "outside").c_str(), 0755);
  }
  // The refusal of a block naming `exportDir` and an allowed LogoDir.
  std::string Refusal(const std::string& exportDir) {
    TParamBlock block;
    block.ExportDir = exportDir;
    block.LogoDir = dir_ / "allowed/log";
    const platform::Status allowed = BlockRefusal(block, {dir_ / "allowed"});
    return allowed.ok() ? std::string() : allowed.ToString();
  }
  test::TempDir dir_;
};

TEST_F(BlockPolicyTest, OnlyDirectoriesInsideAnAllowedRootPass) {
  EXPECT_EQ(Refusal(dir_ / "allowed"), "");
  EXPECT_EQ(Refusal(dir_ / "allowed/export/new"), "") << "need not exist yet";
  EXPECT_EQ(Refusal(dir_ / "allowed/x/../export"), "");
  const std::string outside[] = {dir_ / "allowed2", dir_ / "allowed/../outside", dir_ / "outside",
                                 "/"};
  for (const std::string& path : outside)
    EXPECT_NE(Refusal(path).find("lies outside the allowed directories"), std::string::npos)
        << path;
}

TEST_F(BlockPolicyTest, ALinkIsJudgedByWhereItLeadsAndAFileIsNoDirectory) {
  ASSERT_EQ(::symlink((dir_ / "outside").c_str(), (dir_ / "allowed/escape").c_str()), 0);
  EXPECT_NE(Refusal(dir_ / "allowed/escape/export").find("lies outside"), std::string::npos);
  test::WriteFile(dir_ / "allowed/file", "x");
  EXPECT_EQ(Refusal(dir_ / "allowed/file"),
            "ExportDir \"" + (dir_ / "allowed/file") + "\" names a file, not a directory");
}

TEST(DefaultAllowedRoots, TheStateDirectoryAndTheParentsOfBothDirectories) {
  const std::vector<std::string> roots = DefaultAllowedRoots("/nowhere/shop/export/", "/");
  EXPECT_EQ(roots, (std::vector<std::string>{platform::StateHome(), "/nowhere/shop", "/"}));
}

}  // namespace
}  // namespace tv
