// `tovalink scale` as a process against a store in a temporary state
// directory: the five tables move together and the cycle's reader agrees.
#include <gtest/gtest.h>

#include "config/settings.h"
#include "engine/engine_config.h"
#include "platform/registry.h"
#include "testutil.h"

namespace tv {
namespace {

struct Expected {
  int number;
  int type;
  int barcode;
  bool useBy;
  bool constBc;
};

class ScaleCliTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args, std::string& out) {
    args.insert(args.begin(), test::TovalinkBinary());
    return test::RunBinary(args, {"TOVALINK_HOME=" + home.Path()}, out);
  }
  int Scale(std::vector<std::string> args, std::string& out) {
    args.insert(args.begin(), "scale");
    return Run(args, out);
  }

  // Every table holds exactly the expected entries and TotalNumber, and the
  // export cycle's reader sees the same list.
  void ExpectTables(const std::vector<Expected>& want) {
    platform::Registry reg(home / "registry.db");
    const char* keys[] = {kDevicesKey, kDeviceTypesKey, kDeviceBarcodeTypesKey, kDeviceUseByInDaysKey,
                          kDeviceConstBCKey};
    for (const char* key : keys) {
      platform::RegistryKey table = reg.OpenReadOnly(key);
      ASSERT_TRUE(table) << key;
      EXPECT_EQ(table.ReadInteger("TotalNumber"), static_cast<int>(want.size())) << key;
      EXPECT_EQ(table.ListValues().size(), want.size() + 1) << key << ": no entry beyond TotalNumber";
    }
    TDeviceTables t = DeviceTableRead(reg, 5);
    ASSERT_EQ(t.ScaleNumbers.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(t.ScaleNumbers[i], want[i].number) << i;
      EXPECT_EQ(t.DeviceTypes[i], want[i].type) << i;
      EXPECT_EQ(t.BarcodeTypes[i], want[i].barcode) << i;
      EXPECT_EQ(t.UseByInDays[i], want[i].useBy) << i;
      EXPECT_EQ(t.ConstBarcode[i], want[i].constBc) << i;
    }
  }

  test::TempDir home;
};

TEST_F(ScaleCliTest, AddRemoveAndSetKeepTheFiveTablesTogether) {
  std::string out;
  ASSERT_EQ(Scale({"add", "3", "--type", "bench"}, out), 0) << out;
  EXPECT_NE(out.find("created with defaults"), std::string::npos) << "a new store gets the defaults: " << out;
  ExpectTables({{91, 0, 5, false, false}, {3, 1, 5, false, false}});

  ASSERT_EQ(Scale({"remove", "91"}, out), 0) << out;
  ASSERT_EQ(Scale({"add", "7", "--type", "SM700", "--barcode-type", "9", "--use-by-days"}, out), 0) << out;
  ASSERT_EQ(Scale({"add", "5", "--type", "Pole", "--const-barcode"}, out), 0) << out;
  EXPECT_EQ(out.find("created with defaults"), std::string::npos) << "only the first write makes them";
  ExpectTables({{3, 1, 5, false, false}, {7, 5, 9, true, false}, {5, 0, 5, false, true}});

  ASSERT_EQ(Scale({"remove", "7"}, out), 0) << out;
  ExpectTables({{3, 1, 5, false, false}, {5, 0, 5, false, true}});

  ASSERT_EQ(Scale({"set", "5", "--type", "BigPlatform", "--no-const-barcode", "--use-by-days"}, out), 0) << out;
  ExpectTables({{3, 1, 5, false, false}, {5, 3, 5, true, false}});

  ASSERT_EQ(Scale({"remove", "3"}, out), 0) << out;
  ASSERT_EQ(Scale({"remove", "5"}, out), 0) << out;
  ExpectTables({});
}

TEST_F(ScaleCliTest, RefusesBadNumbersRepeatsAndUnknownScalesWithoutAChange) {
  std::string out;
  EXPECT_NE(Scale({"remove", "12"}, out), 0);
  EXPECT_EQ(out.find("created with defaults"), std::string::npos) << out;
  EXPECT_FALSE(platform::Registry(home / "registry.db").KeyExists(kProductKey))
      << "a refused change on a new store writes no defaults either";
  ASSERT_EQ(Scale({"add", "12", "--type", "Pole"}, out), 0) << out;
  const std::vector<Expected> before = {{91, 0, 5, false, false}, {12, 0, 5, false, false}};

  EXPECT_NE(Scale({"add", "0", "--type", "Pole"}, out), 0);
  EXPECT_NE(out.find("1 to 255"), std::string::npos) << out;
  EXPECT_NE(Scale({"add", "256", "--type", "Pole"}, out), 0);
  EXPECT_NE(Scale({"add", "12", "--type", "Bench"}, out), 0);
  EXPECT_NE(out.find("already in the list"), std::string::npos) << out;
  EXPECT_NE(Scale({"add", "13", "--type", "Scanner"}, out), 0);
  EXPECT_NE(out.find("SelfService"), std::string::npos) << "the error names the types: " << out;
  EXPECT_NE(Scale({"add", "13"}, out), 0) << "a type is needed";
  EXPECT_NE(Scale({"add", "13", "--type", "Pole", "--barcode-type", "300"}, out), 0);
  EXPECT_NE(Scale({"remove", "14"}, out), 0);
  EXPECT_NE(out.find("not in the list"), std::string::npos) << out;
  EXPECT_NE(Scale({"set", "14", "--type", "Pole"}, out), 0);
  EXPECT_NE(Scale({"set", "12"}, out), 0) << "set needs a change";
  ExpectTables(before);
}

TEST_F(ScaleCliTest, ListShowsAddressPortTypeFlagsLastResultAndParkedCount) {
  std::string out;
  const std::string key = "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+";
  ASSERT_EQ(Run({"reg", "add", key, "/v", "IPAdress", "/d", "127.0.0.", "/f"}, out), 0) << out;
  ASSERT_EQ(Run({"reg", "add", key, "/v", "SocketPort", "/t", "REG_DWORD", "/d", "3000", "/f"}, out), 0) << out;
  ASSERT_EQ(Scale({"remove", "91"}, out), 0) << out;
  ASSERT_EQ(Scale({"add", "4", "--type", "SM700", "--use-by-days", "--const-barcode"}, out), 0) << out;
  ASSERT_EQ(Scale({"add", "9", "--type", "SelfService", "--barcode-type", "7"}, out), 0) << out;
  {
    platform::Registry reg(home / "registry.db");
    WriteResult(reg, 4, false);
  }
  const std::string unsent = home / "drive_c/SCALEUPLOAD/ExportDir/Unsent/";
  test::WriteFile(unsent + "{0F6A3C1E-2B4D-4E8F-9A0B-1C2D3E4F5A6B}prices004.txt", "D000777\r\n");
  test::WriteFile(unsent + "{1F6A3C1E-2B4D-4E8F-9A0B-1C2D3E4F5A6B}keys004.xml", "<xml_archive/>");

  ASSERT_EQ(Scale({"list"}, out), 0) << out;
  std::vector<std::string> lines = test::Lines(out);
  ASSERT_EQ(lines.size(), 4u) << out;
  EXPECT_EQ(lines[0], "store " + home / "registry.db") << "the store it read comes first";
  EXPECT_EQ(lines[2].substr(0, 1), "4");
  for (const char* part : {"127.0.0.4", "3004", "SM700", "use-by-days,const-barcode", "failed"})
    EXPECT_NE(lines[2].find(part), std::string::npos) << part << " in " << lines[2];
  EXPECT_EQ(lines[2].substr(lines[2].size() - 2), " 2") << "two parked files: " << lines[2];
  for (const char* part : {"127.0.0.9", "3009", "SelfService", " 7 ", " - "})
    EXPECT_NE(lines[3].find(part), std::string::npos) << part << " in " << lines[3];
  EXPECT_EQ(lines[3].substr(lines[3].size() - 2), " 0") << lines[3];

  ASSERT_EQ(Scale({"list", "--json"}, out), 0) << out;
  EXPECT_NE(out.find("{\"scale\":4,\"address\":\"127.0.0.4\",\"port\":3004,\"type\":\"SM700\",\"type_code\":5,"
                     "\"barcode_type\":5,\"use_by_days\":true,\"const_barcode\":true,\"last_result\":\"failed\","
                     "\"parked\":2}"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"scale\":9,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"last_result\":null,\"parked\":0}"), std::string::npos) << out;
}

}  // namespace
}  // namespace tv
