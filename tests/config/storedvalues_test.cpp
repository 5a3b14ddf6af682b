// The table of stored values against the code that uses it: what a first
// start writes, what the engine and the cycles read (and when), and what
// the parameter server writes, each on a real store in a temporary
// directory.
#include "config/storedvalues.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/statusprotocol.h"
#include "config/valuecheck.h"
#include "engine/engine_config.h"
#include "paramserver/settingswriter.h"
#include "platform/log.h"
#include "testutil.h"

namespace tv::config {
namespace {

using platform::RegistryError;
using platform::RegistryKey;
using platform::RegType;

std::string Describe(const platform::RegValue& v) {
  return v.name + (v.type == RegType::String ? "=s:" + v.text : "=d:" + std::to_string(v.number));
}

class StoredValuesTest : public ::testing::Test {
 protected:
  StoredValuesTest() : reg(dir / "registry.db") {
    setenv("TOVALINK_HOME", dir.Path().c_str(), 1);
    platform::SetLogSink(
        [this](platform::LogLevel, std::string_view line) { log += std::string(line) + "\n"; });
  }
  ~StoredValuesTest() override { platform::SetLogSink(nullptr); }

  // A stored value that every read of it must refuse.
  void Spoil(const StoredValue& v) {
    RegistryKey key = reg.Open(std::string(v.key), false);
    ASSERT_TRUE(key);
    if (v.type == RegType::String)
      key.WriteInteger(NameFor(v), 1);
    else
      ASSERT_TRUE(key.DeleteValue(NameFor(v)));
  }

  test::TempDir dir;
  platform::Registry reg;
  std::string log;
};

TEST_F(StoredValuesTest, AFirstStartWritesExactlyTheTableDefaults) {
  CreateDefaults(reg);
  for (const char* path : kStoreKeys) {
    std::vector<std::string> want;
    for (const StoredValue* v : ValuesOf(path)) {
      if (!v->written) continue;
      platform::RegValue d{NameFor(*v), v->type, std::string(v->text), v->number};
      want.push_back(Describe(d));
    }
    std::vector<std::string> got;
    RegistryKey key = reg.OpenReadOnly(path);
    ASSERT_TRUE(key) << path;
    for (const auto& v : key.ListValues()) got.push_back(Describe(v));
    EXPECT_EQ(got, want) << path;
  }
}

TEST_F(StoredValuesTest, EveryValueTheServiceReadsIsInTheTableWithItsMoment) {
  // The table's values alone satisfy every read.
  CreateDefaults(reg);
  TEngineSettings s;
  ASSERT_TRUE(StartRead(reg, s).ok()) << log;
  EXPECT_NO_THROW(CycleRead(reg));
  EXPECT_EQ(DeviceTableRead(reg, 5).ScaleNumbers, std::vector<int32_t>{91});

  // Each required value, spoilt on its own, fails exactly the reads the
  // table says take it, with an error naming it and its key.
  for (const StoredValue* v : kStoredValues) {
    if (!v->required) continue;
    test::TempDir home;
    setenv("TOVALINK_HOME", home.Path().c_str(), 1);
    ASSERT_TRUE(reg.DeleteKey(kProductKey));
    CreateDefaults(reg);
    Spoil(*v);
    const std::string where = NameFor(*v) + " in HKCU\\" + std::string(v->key) + ": ";
    const bool product = v->key == kProductKey;
    log.clear();
    std::string error;
    bool startFailed = false;
    try {
      TEngineSettings start;
      const platform::Status read = StartRead(reg, start);
      startFailed = !read.ok();
      error = read.ToString();
    } catch (const RegistryError& e) {
      startFailed = true;
      error = e.what();
    }
    EXPECT_EQ(startFailed, product && (v->reads & (kAtStart | kAtReload)) != 0) << where;
    if (startFailed) {
      EXPECT_NE((error + log).find(where), std::string::npos) << error << log;
    }

    TEngineSettings reload;
    EXPECT_EQ(!ReloadSettings(reg, reload).ok(), product && (v->reads & kAtReload) != 0) << where;
    try {
      if (product)
        CycleRead(reg);
      else
        DeviceTableRead(reg, 5);
      EXPECT_EQ(v->reads & kAtCycle, 0) << where << "read by no cycle";
    } catch (const RegistryError& e) {
      EXPECT_NE(v->reads & kAtCycle, 0) << e.what();
      EXPECT_NE(std::string(e.what()).find(where), std::string::npos) << e.what();
    }
  }
}

TEST_F(StoredValuesTest, OptionalValuesNeverFailAReadAndGiveTheirDefaults) {
  CreateDefaults(reg);
  {
    RegistryKey product = reg.Open(kProductKey, false);
    for (const StoredValue* v : ValuesOf(kProductKey)) {
      if (v->required) continue;
      if (v->type == RegType::String)
        product.WriteInteger(NameFor(*v), 44);
      else
        product.WriteString(NameFor(*v), "6");
    }
  }
  TEngineSettings s;
  ASSERT_TRUE(StartRead(reg, s).ok()) << log;
  EXPECT_EQ(s.MaxMessRowCount, static_cast<int32_t>(kMaxMessRowCount.number));
  EXPECT_EQ(s.MonitorIP, kMonitorIP.text);
  EXPECT_EQ(s.DecimalSeparator, 0);
}

TEST_F(StoredValuesTest, TheParameterServerWritesOnlyRemoteValuesAndAllOfThem) {
  platform::GuardedRegistry store(dir / "remote.db");
  TParamBlock b;
  b.TotalNumber = 2;
  b.ScaleNumbers = {11, 12};
  b.DeviceTypes = b.BarcodeTypes = b.UseByInDays = b.ConstBC = {1, 0};
  {
    auto r = store.Lock();
    for (const char* path : kStoreKeys) r->CreateKey(path);  // tables are rewritten, so they must exist
  }
  ASSERT_TRUE(WriteBlockToStore(store, b));

  auto r = store.Lock();
  std::set<const StoredValue*> written;
  for (const char* path : kStoreKeys) {
    for (const auto& v : r->OpenReadOnly(path).ListValues()) {
      const StoredValue* entry = FindStoredValue(path, v.name);
      ASSERT_NE(entry, nullptr) << v.name << " in " << path;
      EXPECT_TRUE(entry->remote) << v.name << " in " << path;
      EXPECT_EQ(entry->type, v.type) << v.name;
      written.insert(entry);
    }
  }
  for (const StoredValue* v : kStoredValues)
    EXPECT_EQ(written.count(v), v->remote ? 1u : 0u) << v->key << "\\" << v->name;
  EXPECT_EQ(r->OpenReadOnly(kDevicesKey).ReadInteger("Scale2"), 12);
}

TEST(StoredValueLookup, NamesFoldCaseAndNumbersFillTheirPlace) {
  EXPECT_EQ(FindStoredValue(kProductKey, "verinterval"), &kVerInterval);
  EXPECT_EQ(FindStoredValue("software\\orvane group\\TOVALIN+\\", "IPADRESS"), &kIPAdress);
  EXPECT_EQ(FindStoredValue(kDevicesKey, "scale12"), &kDevicesEntry);
  EXPECT_EQ(FindStoredValue(kDevicesKey, "TotalNumber"), &kDevicesCount);
  EXPECT_EQ(FindStoredValue(kDeviceResultsKey, "91"), &kDeviceResult);
  for (const char* unknown : {"Scale", "Scale012", "Scale1x", "VerInterval"})
    EXPECT_EQ(FindStoredValue(kDevicesKey, unknown), nullptr) << unknown;
  EXPECT_EQ(FindStoredValue(kProductKey, "Scale1"), nullptr);
  EXPECT_EQ(FindStoredValue("SOFTWARE\\Other", "VerInterval"), nullptr);

  EXPECT_EQ(NearestName(kProductKey, "VerIntervall"), "VerInterval");
  EXPECT_EQ(NearestName(kProductKey, "IPAddress"), "IPAdress");
  EXPECT_EQ(NearestName(kDevicesKey, "Scael3"), "Scale3");
  EXPECT_EQ(NearestName(kProductKey, "Colour"), "");

  EXPECT_EQ(WhenEffective(kIPAdress), TakesEffect::NextCycle);
  EXPECT_EQ(WhenEffective(kVerInterval), TakesEffect::NextStart);
  EXPECT_EQ(WhenEffective(kDeviceResult), TakesEffect::Never);
}

TEST(StoredValueRanges, MaxParallelScalesServesOneToAFullScaleList) {
  EXPECT_EQ(WhenEffective(kMaxParallelScales), TakesEffect::NextCycle);
  EXPECT_FALSE(kMaxParallelScales.remote);
  auto problem = [](uint32_t n) {
    return ValueProblem(kMaxParallelScales, "MaxParallelScales",
                        platform::RegValue{"MaxParallelScales", platform::RegType::DWord, {}, n});
  };
  EXPECT_EQ(problem(0), "MaxParallelScales 0 is outside 1 to 255");
  EXPECT_EQ(problem(256), "MaxParallelScales 256 is outside 1 to 255");
  EXPECT_EQ(problem(1), "");
  EXPECT_EQ(problem(255), "");
  TCycleSettings c;
  EXPECT_EQ(c.ParallelScales(), 10u);
  c.MaxParallelScales = 0;  // written past the checks, straight into the store
  EXPECT_EQ(c.ParallelScales(), 1u);
  c.MaxParallelScales = 1000;
  EXPECT_EQ(c.ParallelScales(), 255u);
}

TEST(StatusProtocol, CodesAndLayoutAreTheWireValues) {
  EXPECT_EQ(kStatusPort, 3058);
  EXPECT_EQ(kStatusRequest, 1);
  EXPECT_EQ((std::vector<int>{urFail, urSuccess, urInProgress, urUnknown}), (std::vector<int>{0, 1, 2, 3}));
  // Three scales: count, numbers at 1..3, states at 4..6.
  EXPECT_EQ(StatusReplyLength(3), 7u);
  EXPECT_EQ(StatusNumberOffset(2), 3u);
  EXPECT_EQ(StatusStateOffset(3, 0), 4u);
}

}  // namespace
}  // namespace tv::config
