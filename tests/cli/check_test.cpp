// `tovalink check` against a table of broken stores, and the same report
// under a failed start, from the real binary.
#include <gtest/gtest.h>

#include <functional>

#include "config/settings.h"
#include "engine/engine_config.h"
#include "platform/registry.h"
#include "testutil.h"

namespace tv {
namespace {

using platform::Registry;
using platform::RegistryKey;

// A store the service can start and deliver with: defaults, scales 1 to 3,
// directories inside the test's home, separators pinned.
class CheckTest : public ::testing::Test {
 public:
  void SetUp() override {
    Registry reg(Store());
    CreateDefaults(reg);
    RegistryKey product = reg.Open(kProductKey, false);
    product.WriteString("IPAdress", "127.0.0.");
    product.WriteString("ExportDir", home / "export");
    product.WriteString("LogoDir", home / "log");
    product.WriteString("ListSeparator", ",");
    product.WriteString("DecimalSeparator", ".");
    SetTables({1, 2, 3});
  }
  std::string Store() { return home / "registry.db"; }
  std::vector<std::string> Env() { return {"TOVALINK_HOME=" + home.Path(), "LANG=C", "LC_ALL=C"}; }

  void SetTables(const std::vector<int>& numbers) {
    Registry reg(Store());
    for (const char* key : {kDevicesKey, kDeviceTypesKey, kDeviceBarcodeTypesKey, kDeviceUseByInDaysKey,
                            kDeviceConstBCKey}) {
      reg.DeleteKey(key);
      RegistryKey table = reg.Open(key, true);
      table.WriteInteger("TotalNumber", static_cast<int32_t>(numbers.size()));
      for (size_t i = 0; i < numbers.size(); ++i)
        table.WriteInteger("Scale" + std::to_string(i + 1), key == kDevicesKey ? numbers[i] : 0);
    }
  }
  void Edit(const char* key, const std::function<void(RegistryKey&)>& change) {
    Registry reg(Store());
    RegistryKey k = reg.Open(key, true);
    ASSERT_TRUE(k);
    change(k);
  }
  int Check(std::string& out) { return test::RunBinary({test::TovalinkBinary(), "check"}, Env(), out); }

  test::TempDir home;
};

TEST_F(CheckTest, AGoodStorePassesAndSaysWhichSeparatorsAreInForce) {
  std::string out;
  EXPECT_EQ(Check(out), 0) << out;
  EXPECT_NE(out.find("ok: list separator ',' (stored ListSeparator), decimal separator '.' (stored DecimalSeparator)"),
            std::string::npos) << out;
  EXPECT_NE(out.find(Store() + ": 0 errors, 0 warnings"), std::string::npos) << out;
  EXPECT_EQ(out.find("error:"), std::string::npos) << out;
}

struct BrokenStore {
  const char* what;
  std::function<void(CheckTest&)> breakIt;
  int exitCode;
  std::string line;
};

TEST_F(CheckTest, EveryProblemIsOneLineNamingTheValue) {
  const char* product = kProductKey;
  const std::vector<BrokenStore> cases = {
      {"missing integer",
       [&](CheckTest& t) { t.Edit(product, [](RegistryKey& r) { r.DeleteValue("LFormat"); }); }, 1,
       "error: LFormat is missing; it must be an integer (REG_DWORD)"},
      {"string where an integer belongs",
       [&](CheckTest& t) {
         t.Edit(product, [](RegistryKey& r) { r.WriteString("VerInterval", "10"); });
       },
       1, "error: VerInterval is of the wrong type; it must be an integer (REG_DWORD)"},
      {"integer where a string belongs",
       [&](CheckTest& t) {
         t.Edit(product, [](RegistryKey& r) { r.WriteInteger("ExportDir", 3); });
       },
       1, "error: ExportDir is of the wrong type; it must be a string (REG_SZ)"},
      {"prefix without its dot",
       [&](CheckTest& t) {
         t.Edit(product, [](RegistryKey& r) { r.WriteString("IPAdress", "10.1.2"); });
       },
       1, "error: IPAdress \"10.1.2\" is not three dotted numbers 0 to 255 and a dot"},
      {"prefix with a whole address",
       [&](CheckTest& t) {
         t.Edit(product, [](RegistryKey& r) { r.WriteString("IPAdress", "10.1.2.3."); });
       },
       1, "error: IPAdress \"10.1.2.3.\" is not three dotted numbers 0 to 255 and a dot"},
      {"prefix part above 255",
       [&](CheckTest& t) {
         t.Edit(product, [](RegistryKey& r) { r.WriteString("IPAdress", "10.300.2."); });
       },
       1, "error: IPAdress \"10.300.2.\""},
      {"a table shorter than Devices",
       [&](CheckTest& t) {
         t.Edit(kDeviceConstBCKey, [](RegistryKey& r) { r.WriteInteger("TotalNumber", 2); });
       },
       1, "error: DeviceConstBC\\TotalNumber is 2 but Devices\\TotalNumber is 3"},
      {"an entry missing",
       [&](CheckTest& t) {
         t.Edit(kDeviceTypesKey, [](RegistryKey& r) { r.DeleteValue("Scale2"); });
       },
       1, "error: DeviceTypes\\Scale2 is missing or not an integer (TotalNumber is 3)"},
      {"scale number out of range",
       [](CheckTest& t) {
         t.SetTables({1, 256, 3});
       },
       1, "error: Devices\\Scale2 is 256; a scale number is 1 to 255"},
      {"scale number repeated",
       [](CheckTest& t) {
         t.SetTables({1, 2, 1});
       },
       1, "error: Devices\\Scale3 repeats scale number 1"},
      {"relative export directory",
       [&](CheckTest& t) {
         t.Edit(product, [](RegistryKey& r) { r.WriteString("ExportDir", "SCALEUPLOAD\\Export"); });
       },
       1, "error: ExportDir \"SCALEUPLOAD\\Export\" is a relative path"},
      {"UNC log directory",
       [&](CheckTest& t) {
         t.Edit(product, [](RegistryKey& r) { r.WriteString("LogoDir", "\\\\server\\share"); });
       },
       1, "error: LogoDir \"\\\\server\\share\" is a network (UNC) path"},
      {"log directory under a file",
       [&](CheckTest& t) {
         test::WriteFile(t.home / "plain", "x");
         t.Edit(product, [&](RegistryKey& r) { r.WriteString("LogoDir", t.home / "plain/log"); });
       },
       1, "cannot be made: " + home / "plain" + " is not a directory"},
      {"separators from the C locale",
       [&](CheckTest& t) {
         t.Edit(product, [](RegistryKey& r) { r.DeleteValue("ListSeparator"); });
       },
       0,
       "warning: list separator ',' (locale C), decimal separator '.' (stored DecimalSeparator): "
       "the C/POSIX locale"},
      {"stored list separator unlike the locale's",
       [&](CheckTest& t) {
         t.Edit(product, [](RegistryKey& r) { r.WriteString("ListSeparator", ";"); });
       },
       0,
       "warning: ListSeparator ';' is not the list separator of locale C (','): files are split at "
       "the locale's"},
      {"parked file of a removed scale",
       [&](CheckTest& t) {
         test::WriteFile(t.home / "export/Unsent/{6F9619FF-8B86-D011-B42D-00C04FC964FF}prices007.txt", "T1\r\n");
       },
       0,
       "warning: Unsent/{6F9619FF-8B86-D011-B42D-00C04FC964FF}prices007.txt is parked for scale 7, "
       "which is not"},
      {"empty scale list", [](CheckTest& t) { t.SetTables({}); }, 0,
       "warning: the scale list is empty (Devices\\TotalNumber is 0)"},
  };
  for (const BrokenStore& c : cases) {
    // Each case starts from the good store.
    for (const auto& entry : std::filesystem::directory_iterator(home.Path())) std::filesystem::remove_all(entry);
    SetUp();
    c.breakIt(*this);
    std::string out;
    EXPECT_EQ(Check(out), c.exitCode) << c.what << "\n" << out;
    EXPECT_NE(out.find(c.line), std::string::npos) << c.what << "\n" << out;
  }
}

TEST_F(CheckTest, AFailedStartPrintsTheSameReport) {
  Edit(kProductKey, [](RegistryKey& r) {
    r.WriteString("VerInterval", "10");
  });
  std::string check, start;
  ASSERT_EQ(Check(check), 1);
  ASSERT_EQ(test::RunBinary({test::TovalinkBinary()}, Env(), start, 10000), 1) << start;
  const size_t failed = start.find("Service failed on start: ");
  ASSERT_NE(failed, std::string::npos) << start;
  EXPECT_NE(start.find(check, failed), std::string::npos) << "check:\n" << check << "start:\n" << start;
}

TEST_F(CheckTest, SaysWhatEachPortAcceptsAndRefusesUnreadableRestrictions) {
  std::string out;
  ASSERT_EQ(Check(out), 0) << out;
  EXPECT_NE(out.find("ok: metrics and status page: listen on 127.0.0.1:9957 (MetricsAddress)"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("ok: port 3057 (parameter server, no authentication): listens on every "
                     "address, admits every "
                     "peer"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("ok: port 3058 (status server): listens on every address, admits every peer"),
            std::string::npos)
      << out;

  Edit(kProductKey, [](RegistryKey& r) {
    r.WriteString("ParamServerAddress", "127.0.0.1");
    r.WriteString("StatusServerAddress", "off");
    r.WriteString("RemoteAllow", " 10.1.2.3/16 ; 127.0.0.1");
  });
  ASSERT_EQ(Check(out), 0) << out;
  EXPECT_NE(out.find("ok: port 3057 (parameter server, no authentication): listens on 127.0.0.1 "
                     "(ParamServerAddress), admits only 10.1.0.0/16; 127.0.0.1 (RemoteAllow)"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("ok: port 3058 (status server): off (StatusServerAddress)"), std::string::npos)
      << out;
  Edit(kProductKey, [](RegistryKey& r) { r.WriteString("MetricsAddress", "127.0.0.1"); });
  EXPECT_NE(Check(out), 0) << out;
  EXPECT_NE(out.find("MetricsAddress \"127.0.0.1\" is not address:port"), std::string::npos) << out;
  Edit(kProductKey, [](RegistryKey& r) { r.WriteString("MetricsAddress", "off"); });
  ASSERT_EQ(Check(out), 0) << out;
  EXPECT_NE(out.find("ok: metrics and status page: off (MetricsAddress)"), std::string::npos)
      << out;

  Edit(kProductKey, [](RegistryKey& r) {
    r.WriteString("ParamServerAddress", "localhost");
    r.WriteString("RemoteAllow", "10.1.2.0/33");
  });
  EXPECT_EQ(Check(out), 1) << out;
  EXPECT_NE(
      out.find("error: RemoteAllow \"10.1.2.0/33\" is neither an IPv4 address nor a CIDR block"),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("error: ParamServerAddress \"localhost\" is neither an IPv4 address nor off"),
            std::string::npos)
      << out;
}

TEST_F(CheckTest, AMissingStoreIsNotCreated) {
  test::TempDir empty;
  std::string out;
  EXPECT_EQ(test::RunBinary({test::TovalinkBinary(), "check"}, {"TOVALINK_HOME=" + empty.Path()}, out), 0) << out;
  EXPECT_NE(out.find("does not exist; the first start writes the defaults"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(empty / "registry.db"));
}

}  // namespace
}  // namespace tv
