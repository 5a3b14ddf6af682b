// The store routines against a real store file in a temporary directory.
#include "engine/engine_config.h"

#include <gtest/gtest.h>

#include "platform/env.h"
#include "platform/fs.h"
#include "testutil.h"

namespace tv {
namespace {

using platform::Registry;
using platform::RegType;

class ConfigTest : public ::testing::Test {
 protected:
  ConfigTest() : reg(dir / "registry.db") { setenv("TOVALINK_HOME", dir.Path().c_str(), 1); }
  int32_t Int(const char* key, const char* name) {
    platform::RegistryKey k = reg.OpenReadOnly(key);
    EXPECT_TRUE(k);
    return k.ReadInteger(name);
  }
  void Set(const char* name, int32_t v) {
    platform::RegistryKey k = reg.Open(kProductKey, false);
    ASSERT_TRUE(k);
    k.WriteInteger(name, v);
  }
  platform::RegistryKey Product() { return reg.Open(kProductKey, false); }
  test::TempDir dir;
  Registry reg;
};

TEST_F(ConfigTest, FirstStartWritesExactlyTheDefaults) {
  CreateDefaults(reg);
  platform::RegistryKey product = reg.OpenReadOnly(kProductKey);
  ASSERT_TRUE(product);
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& v : product.ListValues())
    got.emplace_back(v.name, v.type == RegType::String ? "s:" + v.text : "d:" + std::to_string(v.number));
  std::vector<std::pair<std::string, std::string>> want = {
      {"ExportDir", "s:C:\\SCALEUPLOAD\\ExportDir"}, {"LogoDir", "s:C:\\SCALEUPLOAD"},
      {"IPAdress", "s:192.168.0."},                  {"VerInterval", "d:10"},
      {"FileMask", "s:*.*"},                         {"BarPrefix", "s:22"},
      {"SocketPort", "d:2000"},                      {"BarcodeFormat", "d:5"},
      {"LFormat", "d:17"},                           {"LabelWidth", "d:58"},
      {"INGRFontSize", "d:0"},                       {"SMessFontSize", "d:0"},
      {"INGRROWCount", "d:7"},                       {"SMESSROWCount", "d:8"},
      {"INGRCOLCount", "d:100"},                     {"SMESSCOLCount", "d:100"},
      {"m_iNameAlgorithm", "d:0"},                   {"LongBarCode", "d:0"},
      {"TextToOEM", "d:0"},                          {"ForceDi30", "d:0"},
      {"ImportType", "d:0"},                         {"MaxMessRowCount", "d:8"},
      {"MonitorIP", "s:"}};
  EXPECT_EQ(got, want);
  std::vector<std::string> subs = product.ListSubKeys();
  EXPECT_EQ(subs.size(), 6u);
  EXPECT_EQ(Int(kDevicesKey, "TotalNumber"), 1);
  EXPECT_EQ(Int(kDevicesKey, "Scale1"), 91);
  EXPECT_EQ(Int(kDeviceTypesKey, "Scale1"), 0);
  EXPECT_EQ(Int(kDeviceBarcodeTypesKey, "Scale1"), 5);
  EXPECT_EQ(Int(kDeviceUseByInDaysKey, "Scale1"), 0);
  EXPECT_EQ(Int(kDeviceConstBCKey, "Scale1"), 0);
  platform::RegistryKey results = reg.OpenReadOnly(kDeviceResultsKey);
  ASSERT_TRUE(results);
  EXPECT_TRUE(results.ListValues().empty());
}

TEST_F(ConfigTest, ExistingKeysAreNotTouchedAndAMissingSubKeyAloneIsRecreated) {
  CreateDefaults(reg);
  Set("VerInterval", 3);
  ASSERT_TRUE(Product().DeleteValue("LabelWidth"));
  reg.Open(kDevicesKey, false).WriteInteger("Scale1", 7);
  ASSERT_TRUE(reg.DeleteKey(kDeviceTypesKey));

  CreateDefaults(reg);
  EXPECT_EQ(Int(kProductKey, "VerInterval"), 3);
  EXPECT_FALSE(reg.OpenReadOnly(kProductKey).ValueExists("LabelWidth")) << "a present product key is never repaired";
  EXPECT_EQ(Int(kDevicesKey, "Scale1"), 7);
  EXPECT_EQ(Int(kDeviceTypesKey, "TotalNumber"), 1);
  EXPECT_EQ(Int(kDeviceTypesKey, "Scale1"), 0);
}

TEST_F(ConfigTest, StartReadCapsRowCountsAndReadsSeparators) {
  CreateDefaults(reg);
  Set("INGRROWCount", 20);
  Set("SMESSROWCount", 12);
  Set("INGRCOLCount", 40);
  {
    platform::RegistryKey product = Product();
    product.WriteString("DecimalSeparator", ",x");
    product.WriteString("ListSeparator", "");
    product.DeleteValue("MaxMessRowCount");
  }
  TEngineSettings s;
  ASSERT_TRUE(StartRead(reg, s).ok());
  EXPECT_EQ(s.INGRROWCount, 15);
  EXPECT_EQ(s.SMESSROWCount, 8);
  EXPECT_EQ(s.INGRCOLCount, 40);
  EXPECT_EQ(s.DecimalSeparator, ',');
  EXPECT_EQ(s.ListSeparator, 0) << "empty means the host's";
  EXPECT_EQ(s.MaxMessRowCount, 8);
  EXPECT_TRUE(
      platform::Env::Default()->DirectoryExists(dir / "drive_c/SCALEUPLOAD/ExportDir/Unsent"));

  Set("INGRROWCount", 4);
  ASSERT_TRUE(ReloadSettings(reg, s).ok());
  EXPECT_EQ(s.INGRROWCount, 4);
}

// Every value the engine or a cycle keeps, set to a value of its own, lands
// in its own field; a reload takes only the reload values.
TEST_F(ConfigTest, EachValueLandsInItsFieldAtTheMomentsItIsRead) {
  CreateDefaults(reg);
  auto store = [this](int base) {
    platform::RegistryKey p = Product();
    const std::string n = std::to_string(base);
    for (const char* name : {"ExportDir", "LogoDir"})
      p.WriteString(name, "C:\\" + std::string(name) + n);
    p.WriteString("FileMask", "*." + n);
    p.WriteString("BarPrefix", "B" + n);
    p.WriteString("IPAdress", "127.0." + n + ".");
    p.WriteString("MonitorIP", "M" + n);
    p.WriteString("DecimalSeparator", base == 1 ? "," : ";");
    p.WriteString("ListSeparator", base == 1 ? "|" : "/");
    const char* numbers[] = {"VerInterval",   "INGRROWCount",  "SMESSROWCount",   "INGRCOLCount",
                             "SMESSCOLCount", "ImportType",    "MaxMessRowCount", "MaxFileSizeMB",
                             "SocketPort",    "BarcodeFormat", "LFormat",         "LabelWidth",
                             "INGRFontSize",  "SMessFontSize"};
    for (int i = 0; i < 14; ++i) p.WriteInteger(numbers[i], base + i);
    for (const char* flag : {"ForceDi30", "m_iNameAlgorithm", "LongBarCode", "TextToOEM"})
      p.WriteInteger(flag, base == 1 ? 1 : 0);
  };
  store(1);
  TEngineSettings s;
  ASSERT_TRUE(StartRead(reg, s).ok());
  auto engine = [](const TEngineSettings& e) {
    return std::vector<std::string>{e.ExportDir,
                                    e.LogoDir,
                                    e.FileMask,
                                    e.BarPrefix,
                                    e.MonitorIP,
                                    std::string{e.DecimalSeparator, e.ListSeparator},
                                    std::to_string(e.VerInterval),
                                    std::to_string(e.INGRROWCount),
                                    std::to_string(e.SMESSROWCount),
                                    std::to_string(e.INGRCOLCount),
                                    std::to_string(e.SMESSCOLCount),
                                    std::to_string(e.ImportType),
                                    std::to_string(e.MaxMessRowCount),
                                    std::to_string(e.MaxFileSizeMB),
                                    std::to_string(e.ForceDi30)};
  };
  EXPECT_EQ(engine(s),
            (std::vector<std::string>{"C:\\ExportDir1", "C:\\LogoDir1", "*.1", "B1", "M1", ",|",
                                      "1", "2", "3", "4", "5", "6", "7", "8", "1"}));
  const TCycleSettings c = CycleRead(reg);
  EXPECT_EQ(
      (std::vector<std::string>{c.IPAdress, c.SearchMask, c.BarPrefix, std::to_string(c.SocketPort),
                                std::to_string(c.BarcodeFormat), std::to_string(c.LFormat),
                                std::to_string(c.LabelWidth), std::to_string(c.INGRFontSize),
                                std::to_string(c.SMessFontSize),
                                std::to_string(c.m_iNameAlgorithm + c.LongBarCode + c.TextToOEM)}),
      (std::vector<std::string>{"127.0.1.", "C:\\ExportDir1\\*.1", "B1", "9", "10", "11", "12",
                                "13", "14", "3"}));

  // The start-only values (MonitorIP, separators, ForceDi30) keep their
  // start reading; the row caps hold (15 and 8).
  store(20);
  ASSERT_TRUE(ReloadSettings(reg, s).ok());
  EXPECT_EQ(engine(s),
            (std::vector<std::string>{"C:\\ExportDir20", "C:\\LogoDir20", "*.20", "B20", "M1", ",|",
                                      "20", "15", "8", "23", "24", "25", "26", "27", "1"}));
}

TEST_F(ConfigTest, AMissingOrMistypedIntegerIsAReadError) {
  CreateDefaults(reg);
  Product().DeleteValue("VerInterval");
  TEngineSettings s;
  EXPECT_EQ(StartRead(reg, s).ToString(),
            "settings: VerInterval in HKCU\\SOFTWARE\\Orvane Group\\Tovalin+: missing");
  {
    platform::RegistryKey product = Product();
    product.WriteString("VerInterval", "10");
    product.WriteString("ForceDi30", "no");
  }
  EXPECT_THROW(StartRead(reg, s), platform::RegistryError);
}

TEST_F(ConfigTest, MistypedOptionalValuesFallBackInsteadOfFailing) {
  CreateDefaults(reg);
  {
    platform::RegistryKey product = Product();
    product.WriteInteger("MonitorIP", 5);
    product.WriteString("MaxMessRowCount", "6");
    product.WriteInteger("DecimalSeparator", 44);
  }
  TEngineSettings s;
  ASSERT_TRUE(StartRead(reg, s).ok());
  EXPECT_EQ(s.MonitorIP, "");
  EXPECT_EQ(s.MaxMessRowCount, 8);
  EXPECT_EQ(s.DecimalSeparator, 0);
  EXPECT_TRUE(ReloadSettings(reg, s).ok());
}

TEST_F(ConfigTest, DeviceTablesNeverReachPastTheScaleNumbers) {
  CreateDefaults(reg);
  {
    platform::RegistryKey devices = reg.Open(kDevicesKey, false);
    devices.WriteInteger("TotalNumber", 3);
    devices.WriteInteger("Scale2", 4);
    devices.WriteInteger("Scale3", 9);
  }
  ASSERT_TRUE(reg.DeleteKey(kDeviceBarcodeTypesKey));
  {
    platform::RegistryKey types = reg.Open(kDeviceTypesKey, false);
    types.WriteInteger("TotalNumber", 5);
    for (int i = 2; i <= 5; ++i) types.WriteInteger("Scale" + std::to_string(i), 3);
  }
  TDeviceTables t = DeviceTableRead(reg, 0x107);
  EXPECT_EQ(t.ScaleCount, 3);
  EXPECT_EQ(t.ScaleNumbers, (std::vector<int32_t>{91, 4, 9}));
  EXPECT_EQ(t.DeviceTypes, (std::vector<uint8_t>{0, 3, 3}));
  EXPECT_EQ(t.BarcodeTypes, (std::vector<uint8_t>{7, 7, 7})) << "BarcodeFormat's low byte when the table is missing";
  EXPECT_EQ(t.UseByInDays.size(), 3u);

  reg.Open(kDevicesKey, false).WriteInteger("TotalNumber", 1000000000);
  EXPECT_THROW(DeviceTableRead(reg, 5), platform::RegistryError);
}

TEST_F(ConfigTest, ResultWriteRecreatesTheKey) {
  CreateDefaults(reg);
  ASSERT_TRUE(reg.DeleteKey(kDeviceResultsKey));
  WriteResult(reg, 7, false);
  EXPECT_EQ(Int(kDeviceResultsKey, "7"), 0);
  WriteResult(reg, 7, true);
  EXPECT_EQ(Int(kDeviceResultsKey, "7"), 1);
}

TEST_F(ConfigTest, BatchOfResultsIsWrittenInOrderInOneTransaction) {
  CreateDefaults(reg);
  ASSERT_TRUE(reg.DeleteKey(kDeviceResultsKey));
  // The same scale twice: the later result is the one that stays.
  WriteResults(reg, {{4, true}, {9, false}, {4, false}, {12, true}});
  EXPECT_FALSE(reg.InTransaction());
  EXPECT_EQ(Int(kDeviceResultsKey, "4"), 0);
  EXPECT_EQ(Int(kDeviceResultsKey, "9"), 0);
  EXPECT_EQ(Int(kDeviceResultsKey, "12"), 1);
  // Inside a transaction of the caller the batch joins it and leaves its end.
  reg.BeginTransaction(true);
  WriteResults(reg, {{9, true}});
  EXPECT_TRUE(reg.InTransaction());
  reg.RollbackTransaction();
  EXPECT_EQ(Int(kDeviceResultsKey, "9"), 0);
}

}  // namespace
}  // namespace tv
