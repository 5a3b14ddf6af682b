// Keyboard files end to end: uploads to simulated SM700 scales one at a
// time, logged, parked for the scales that failed, retried alone.
#include <gtest/gtest.h>

#include <algorithm>

#include "site.h"

namespace tv::test {
namespace {

// Two keys of one keyboard: 2 x (key, image path, image) + 1 keyboard record.
constexpr size_t kRecordsPerUpload = 7;

std::string KeyboardFile() {
  return "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
         "<xml_archive>\r\n"
         " <keyboard name=\"template\"/>\r\n"
         " <keyboard name=\"\xD4\xF0\xF3\xEA\xF2\xFB\">\r\n"  // Фрукты
         "  <key key_menu=\"true\" key_index=\"15\"><layer_text><text>\xDF\xE1\xEB\xEE\xEA\xEE</text></layer_text>"
         "<layer_image file_name=\"apple.png\"/></key>\r\n"
         "  <key key_menu=\"true\" key_index=\"16\"><layer_text><text>Pear</text></layer_text>"
         "<layer_image file_name=\"pear.png\"/></key>\r\n"
         " </keyboard>\r\n"
         "</xml_archive>\r\n";
}

class KeyboardEndToEnd : public ::testing::Test {
 protected:
  void WaitForFileGone(const std::string& name) {
    ASSERT_TRUE(WaitUntil(
        [&] { return !platform::Env::Default()->FileExists(site.exportDir + "/" + name); }, 30000))
        << site.output;
  }
  Site site;
};

TEST_F(KeyboardEndToEnd, EveryScaleInTableOrderThenTheFileIsDeleted) {
  for (int n : {12, 3, 7}) site.AddScale(n);
  site.SetScales({12, 3, 7}, {5, 5, 5});
  site.Start();
  site.Drop("keys.xml", KeyboardFile());
  ASSERT_TRUE(site.WaitForLog(3)) << site.output;
  WaitForFileGone("keys.xml");
  std::vector<std::string> order;
  for (const LogLine& l : site.Log()) {
    EXPECT_EQ(l.code, 0);
    EXPECT_EQ(l.file, "keys.xml");
    order.push_back(l.address);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"127.0.0.12", "127.0.0.3", "127.0.0.7"}));
  for (int n : {12, 3, 7}) {
    EXPECT_EQ(site.Scale(n).Sm700Frames().size(), kRecordsPerUpload) << n;
    EXPECT_EQ(site.Scale(n).Connections(), 0) << "keyboard files never use the goods port";
  }
  EXPECT_TRUE(site.Results().empty()) << "keyboard uploads write no DeviceResults entry";
  EXPECT_TRUE(site.Unsent().empty());
  EXPECT_EQ(site.Stop(), 0);
}

TEST_F(KeyboardEndToEnd, AFailedScaleGetsAParkedCopyThatIsRetriedForItAlone) {
  site.AddScale(1);
  site.AddScale(2, sim::Behaviour{}, /*keyboard=*/false);
  site.AddScale(3);
  site.SetScales({1, 2, 3}, {5, 5, 5});
  site.Start();
  site.Drop("keys.xml", KeyboardFile());
  ASSERT_TRUE(site.WaitForLog(3)) << site.output;
  WaitForFileGone("keys.xml");
  std::vector<int> codes;
  for (const LogLine& l : site.Log()) codes.push_back(l.code);
  EXPECT_EQ(codes, (std::vector<int>{0, 15, 0}));
  ASSERT_EQ(site.Unsent().size(), 1u);
  std::string parked = site.Unsent()[0];
  EXPECT_EQ(parked.substr(38), "keys002.xml");

  // The copy keeps failing: no new log line, it stays.  A goods file shows
  // that a later cycle has run (three lines of its own).
  site.Drop("later.txt", GoodsFile());
  WaitForFileGone("later.txt");
  ASSERT_EQ(site.Log().size(), 6u);
  for (const LogLine& l : site.Log()) EXPECT_NE(l.file, parked);
  EXPECT_EQ(site.Unsent(), std::vector<std::string>{parked});

  // Scale 2's keyboard port comes up and the copy reaches it alone.
  size_t scale1Frames = site.Scale(1).Sm700Frames().size();
  site.Stop();
  site.AddScale(2);
  site.Start();
  ASSERT_TRUE(site.WaitForLog(7)) << site.output;
  EXPECT_EQ(site.Log().back().address, "127.0.0.2");
  EXPECT_EQ(site.Log().back().code, 0);
  EXPECT_EQ(site.Log().back().file, parked);
  ASSERT_TRUE(WaitUntil([&] { return site.Unsent().empty(); }, 5000));
  EXPECT_EQ(site.Scale(2).Sm700Frames().size(), kRecordsPerUpload);
  EXPECT_EQ(site.Scale(1).Sm700Frames().size(), scale1Frames);
  EXPECT_EQ(site.Stop(), 0);
}

TEST_F(KeyboardEndToEnd, ParkedCopiesForUnlistedScalesAndTheEmptyList) {
  site.AddScale(1);
  site.AddScale(44);
  site.SetScales({});
  std::string parked = "{11111111-2222-3333-4444-555555555555}keys044.xml";
  WriteFile(site.exportDir + "/Unsent/" + parked, KeyboardFile());
  site.Drop("keys.xml", KeyboardFile());
  site.Start();
  // With no scales nothing is uploaded and nothing is deleted; the goods
  // file beside it shows that a cycle has run.
  site.Drop("prices.txt", GoodsFile());
  WaitForFileGone("prices.txt");
  EXPECT_EQ(site.Scale(44).Sm700Hellos(), 0);
  EXPECT_TRUE(platform::Env::Default()->FileExists(site.exportDir + "/keys.xml"));
  EXPECT_EQ(site.Stop(), 0);

  // With scale 1 listed, the copy still goes to 44, which is not listed.
  site.SetScales({1}, {5});
  site.Start();
  WaitForFileGone("keys.xml");
  ASSERT_TRUE(WaitUntil([&] { return site.Unsent().empty(); }, 10000));
  EXPECT_EQ(site.Scale(44).Sm700Frames().size(), kRecordsPerUpload);
  EXPECT_EQ(site.Scale(1).Sm700Frames().size(), kRecordsPerUpload);
  EXPECT_EQ(site.Stop(), 0);
}

TEST_F(KeyboardEndToEnd, OnlySm700ScalesGetLayoutsAndOtherScalesCopiesAreRemoved) {
  for (int n : {1, 2, 3}) site.AddScale(n);
  site.SetScales({1, 2, 3}, {1, 5, 0});  // Bench, SM700, Pole
  const std::string stale = "{11111111-2222-3333-4444-555555555555}keys001.xml";
  WriteFile(site.exportDir + "/Unsent/" + stale, KeyboardFile());
  site.Drop("keys.xml", KeyboardFile());
  site.Start();
  WaitForFileGone("keys.xml");
  ASSERT_TRUE(WaitUntil([&] { return site.Unsent().empty(); }, 10000)) << site.service->Output();
  // No session, no log line, no copy for the others.
  ASSERT_EQ(site.Log().size(), 1u);
  EXPECT_EQ(site.Log()[0].address, "127.0.0.2");
  EXPECT_EQ(site.Log()[0].code, 0);
  EXPECT_EQ(site.Scale(2).Sm700Frames().size(), kRecordsPerUpload);
  for (int n : {1, 3}) EXPECT_EQ(site.Scale(n).Sm700Hellos(), 0) << n;
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_NE(site.output.find("scale 1: parked copy " + stale +
                             " removed: keyboard layouts go to SM700 scales only"),
            std::string::npos)
      << site.output;
}

TEST_F(KeyboardEndToEnd, AnUnreadableFileIsLoggedWith17AndNotParked) {
  for (int n : {1, 2}) site.AddScale(n);
  site.SetScales({1, 2}, {5, 5});
  site.Start();
  site.Drop("broken.xml", "<xml_archive><keyboard name=\"a\"></xml_archive");
  ASSERT_TRUE(site.WaitForLog(2)) << site.output;
  WaitForFileGone("broken.xml");
  for (const LogLine& l : site.Log()) EXPECT_EQ(l.code, 17);
  EXPECT_TRUE(site.Unsent().empty());
  EXPECT_EQ(site.Scale(1).Sm700Frames().size(), 0u);
  EXPECT_EQ(site.Stop(), 0);
}

}  // namespace
}  // namespace tv::test
