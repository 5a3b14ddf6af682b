#include "files/parkedname.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace tv {
namespace {

// The cycle's rule (both braces anywhere) is wider than the parking rule
// (a leading brace), so a name like "price{1}.txt" is delivered per scale
// yet would be parked again if it failed.
TEST(ParkedNameTest, TheCycleAndTheParkingRuleDifferOnPurpose) {
  EXPECT_TRUE(IsParkedName("{6F9619FF-8B86-D011-B42D-00C04FC964FF}price025.txt"));
  EXPECT_TRUE(IsParkedCopyName("{6F9619FF-8B86-D011-B42D-00C04FC964FF}price025.txt"));
  EXPECT_TRUE(IsParkedName("price{1}.txt"));
  EXPECT_FALSE(IsParkedCopyName("price{1}.txt"));
  EXPECT_TRUE(IsParkedName("}x{"));
  EXPECT_FALSE(IsParkedCopyName("}x{"));
  for (const char* plain : {"", "price.txt", "{price.txt", "price}.txt"}) {
    EXPECT_FALSE(IsParkedName(plain)) << plain;
    EXPECT_FALSE(IsParkedCopyName(plain)) << plain;
  }
}

// What the back office called a file orders parked copies written at the
// same moment; only a parked copy's GUID prefix is cut.
TEST(ParkedNameTest, OriginalNameDropsOnlyAParkedCopysGuid) {
  EXPECT_EQ(OriginalFileName("{6F9619FF-8B86-D011-B42D-00C04FC964FF}price025.txt"), "price025.txt");
  EXPECT_EQ(OriginalFileName("{G}"), "");
  for (const char* kept : {"price.txt", "price{1}.txt", "}x{", ""})
    EXPECT_EQ(OriginalFileName(kept), kept);
}

TEST(ParkedNameTest, ScaleNumberOfAnAddressIsTheLowByteAfterTheThirdDot) {
  uint8_t n = 99;
  EXPECT_TRUE(ScaleNumberFromAddress("127.0.0.12", n));
  EXPECT_EQ(n, 12);
  EXPECT_TRUE(ScaleNumberFromAddress(" 10.0.0.300 ", n));
  EXPECT_EQ(n, 44);
  EXPECT_TRUE(ScaleNumberFromAddress("7", n));
  EXPECT_EQ(n, 7);
  n = 99;
  for (const char* bad : {"", "   ", "127.0.0.", "127.0.0.x", "1.2.3.4.5"}) {
    EXPECT_FALSE(ScaleNumberFromAddress(bad, n)) << bad;
    EXPECT_EQ(n, 99) << bad;
  }
}

// A parked name and the address it was parked for name the same scale.
TEST(ParkedNameTest, FileNameAndAddressAgree) {
  for (int scale : {0, 5, 25, 120, 255}) {
    char name[64];
    std::snprintf(name, sizeof name, "{G}price%.3d.txt", scale);
    uint8_t fromAddress = 0;
    ASSERT_TRUE(ScaleNumberFromAddress("127.0.0." + std::to_string(scale), fromAddress));
    EXPECT_EQ(ScaleNumberFromFileName(std::string("/x/Unsent/") + name), fromAddress);
  }
}

}  // namespace
}  // namespace tv
