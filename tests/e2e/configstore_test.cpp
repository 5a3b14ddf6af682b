// Configuration as code and the store's backup, against the real binary:
// a dump applied to an empty state directory rebuilds the store, a second
// apply changes nothing, an invalid file writes nothing, a running service
// is asked to reload; a backup taken while the service writes restores the
// store, and a restore waits for the service to stop.
#include <gtest/gtest.h>

#include "site.h"

namespace tv::test {
namespace {

class ConfigStoreEndToEnd : public ::testing::Test {
 protected:
  int Tovalink(const std::string& home, std::vector<std::string> args, std::string& out) {
    args.insert(args.begin(), TovalinkBinary());
    return RunBinary(args, {"TOVALINK_HOME=" + home}, out);
  }
  int Tovalink(std::vector<std::string> args, std::string& out) {
    return Tovalink(site.home.Path(), args, out);
  }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  // Every configuration key as `reg query` lists it, without the line
  // naming the store: two stores compare equal when these do.
  std::string Query(const std::string& home) {
    std::string all, out;
    for (const char* key : {kProductKey, kDevicesKey, kDeviceTypesKey, kDeviceBarcodeTypesKey,
                            kDeviceUseByInDaysKey, kDeviceConstBCKey}) {
      EXPECT_EQ(Tovalink(home, {"reg", "query", std::string("HKCU\\") + key}, out), 0) << out;
      for (const std::string& line : Lines(out))
        if (line.rfind("store ", 0) != 0) all += line + "\n";
    }
    return all;
  }
  std::string Dump(const std::string& home) {
    std::string out;
    EXPECT_EQ(Tovalink(home, {"config", "dump"}, out), 0) << out;
    std::string file;  // the dump without the stderr line that names the store
    for (const std::string& line : Lines(out))
      if (line.rfind("store ", 0) != 0) file += line + "\n";
    return file;
  }

  // 255 scales of every type and flag, written as an old installer would:
  // straight into the five tables.
  void FillStore() {
    std::vector<int> numbers, types;
    for (int n = 255; n >= 1; --n) {
      numbers.push_back(n);
      types.push_back(n % 6);
    }
    site.SetScales(numbers, types);
    platform::Registry reg(site.StorePath());
    platform::RegistryKey useBy = reg.Open(kDeviceUseByInDaysKey, false);
    platform::RegistryKey constBc = reg.Open(kDeviceConstBCKey, false);
    platform::RegistryKey barcode = reg.Open(kDeviceBarcodeTypesKey, false);
    for (int i = 1; i <= 255; ++i) {
      const std::string name = "Scale" + std::to_string(i);
      useBy.WriteInteger(name, i % 2);
      constBc.WriteInteger(name, i % 3 == 0);
      barcode.WriteInteger(name, i % 10);
    }
    platform::RegistryKey product = reg.Open(kProductKey, false);
    product.WriteString("FileMask", "*.txt");
    product.WriteString("AllowedRoots", "/srv/shop;/var/lib/tovalink");
    product.DeleteValue("MonitorIP");
  }

  Site site;
};

TEST_F(ConfigStoreEndToEnd, ADumpRebuildsAStoreOf255ScalesAndASecondApplyChangesNothing) {
  FillStore();
  const std::string dump = Dump(site.home.Path());
  ASSERT_TRUE(Has(dump, "# VerInterval: number 1..86400, default 10")) << dump;
  ASSERT_TRUE(Has(dump, "# MonitorIP is not set")) << dump;
  const std::string file = site.home / "shop.conf";
  WriteFile(file, dump);

  TempDir fresh;
  std::string out;
  ASSERT_EQ(Tovalink(fresh.Path(), {"config", "apply", file}, out), 0) << out;
  EXPECT_TRUE(Has(out, "add scale 255")) << out;
  EXPECT_TRUE(Has(out, "remove MonitorIP")) << out;  // a first start writes it; the shop had none
  EXPECT_EQ(Query(fresh.Path()), Query(site.home.Path()));
  EXPECT_EQ(Dump(fresh.Path()), dump);

  // Run on every pass by a configuration tool: nothing to do, said so.
  ASSERT_EQ(Tovalink(fresh.Path(), {"config", "apply", file}, out), 0) << out;
  EXPECT_TRUE(Has(out, "unchanged")) << out;
  EXPECT_FALSE(Has(out, "set ")) << out;

  // A dry run names the change and writes nothing.
  std::string changed = dump;
  changed.replace(changed.find("FileMask = \"*.txt\""), 18, "FileMask = \"*.csv\"");
  changed.replace(changed.find("\n  7 "), 5, "\n  8 ");  // scale 7 becomes 8
  changed.replace(changed.find("\n  8 "), 5, "\n  7 ");
  WriteFile(file, changed);
  ASSERT_EQ(Tovalink(fresh.Path(), {"config", "apply", file, "--dry-run"}, out), 0) << out;
  EXPECT_TRUE(Has(out, "would set FileMask = \"*.csv\" (was \"*.txt\")")) << out;
  EXPECT_TRUE(Has(out, "would change scale 7")) << out;
  EXPECT_EQ(Dump(fresh.Path()), dump);
  ASSERT_EQ(Tovalink(fresh.Path(), {"config", "apply", file}, out), 0) << out;
  EXPECT_EQ(Dump(fresh.Path()), changed);
}

TEST_F(ConfigStoreEndToEnd, AnInvalidFileWritesNothingAndNamesEveryProblem) {
  site.SetScales({1, 2});
  const std::string dump = Dump(site.home.Path());
  const std::string file = site.home / "shop.conf";
  struct Case {
    std::string from, to, says;
  } cases[] = {
      {"IPAdress = \"127.0.0.\"", "IPAdress = \"127.0.0\"", "IPAdress"},
      {"VerInterval = 1\n", "VerIntervall = 1\n", "did you mean 'VerInterval'?"},
      {"VerInterval = 1\n", "", "VerInterval is missing"},
      {"SocketPort = ", "SocketPort = \"x\"\n# ", "SocketPort"},
      {"\n  2 ", "\n  1 ", "scale 1 is listed twice"},
      {"\n  2 ", "\n  256 ", "not from 1 to 255"},
      // Fine as a value, but not as a place the service can find.
      {"ExportDir = \"", "ExportDir = \"shop\"\n# ", "relative path"},
  };
  for (const Case& c : cases) {
    std::string bad = dump;
    ASSERT_NE(bad.find(c.from), std::string::npos) << c.from;
    bad.replace(bad.find(c.from), c.from.size(), c.to);
    bad.replace(bad.find("FileMask = \"*.*\""), 16,
                "FileMask = \"*.new\"");  // a good change beside
    WriteFile(file, bad);
    std::string out;
    EXPECT_EQ(Tovalink({"config", "apply", file}, out), 2) << c.says << "\n" << out;
    EXPECT_TRUE(Has(out, c.says)) << out;
    EXPECT_TRUE(Has(out, "nothing written")) << out;
    EXPECT_EQ(Dump(site.home.Path()), dump) << c.says;
  }
}

TEST_F(ConfigStoreEndToEnd, ApplyAsksARunningServiceToReload) {
  site.AddScale(1);
  site.SetScales({1});
  site.Start();
  site.Drop("prices.txt", GoodsFile(1));
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  std::string dump = Dump(site.home.Path());
  const std::string file = site.home / "shop.conf";
  dump.replace(dump.find("INGRROWCount = 7"), 16, "INGRROWCount = 6");
  WriteFile(file, dump);
  std::string out;
  ASSERT_EQ(Tovalink({"config", "apply", file}, out), 0) << out;
  EXPECT_TRUE(
      Has(out, "asked the service (pid " + std::to_string(site.service->Pid()) + ") to reload"))
      << out;
  EXPECT_TRUE(WaitUntil([&] { return Has(site.Output(), "settings reloaded"); }, Scaled(10000)))
      << site.Output();
  EXPECT_EQ(site.Stop(), 0) << site.output;
}

TEST_F(ConfigStoreEndToEnd, ABackupTakenWhileTheServiceRunsRestoresOnceItStops) {
  site.AddScale(1);
  site.SetScales({1});
  site.Start();
  site.Drop("prices.txt", GoodsFile(1));
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  std::string out;
  // Written while the service holds the store open: it sits in the -wal,
  // which a copy of the main file alone would miss.
  ASSERT_EQ(Tovalink({"scale", "add", "7", "--type", "SM700"}, out), 0) << out;
  const std::string before = Query(site.home.Path());
  TempDir backups;
  const std::string backup = backups / "shop.db";
  ASSERT_EQ(Tovalink({"store", "backup", backup}, out), 0) << out;
  ASSERT_EQ(Tovalink({"scale", "remove", "7"}, out), 0) << out;

  ASSERT_EQ(Tovalink({"store", "restore", backup}, out), 1) << out;
  EXPECT_TRUE(Has(out, "the service runs (pid " + std::to_string(site.service->Pid()) + ")"))
      << out;
  EXPECT_NE(Query(site.home.Path()), before);

  // Killed, the service leaves its -wal with the removal in it: a restore
  // that kept it would have the removal replayed into the restored store.
  site.Kill();
  ASSERT_TRUE(platform::Env::Default()->FileExists(site.home / "registry.db-wal"));
  const std::string notAStore = backups / "notes.db";
  WriteFile(notAStore, "goods and prices\n");
  EXPECT_EQ(Tovalink({"store", "restore", notAStore}, out), 1) << out;
  EXPECT_TRUE(Has(out, "the store is unchanged")) << out;
  ASSERT_EQ(Tovalink({"store", "restore", backup}, out), 0) << out;
  EXPECT_EQ(Query(site.home.Path()), before);
  EXPECT_FALSE(platform::Env::Default()->FileExists(site.home / "registry.db-wal"));
  std::string check;
  EXPECT_EQ(Tovalink({"check"}, check), 0) << check;
}

}  // namespace
}  // namespace tv::test
