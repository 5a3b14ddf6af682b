// Goods files end to end: the real service delivers to simulated scales,
// logs, records results, parks failures and retries them.
#include <gtest/gtest.h>

#include <algorithm>

#include "site.h"

namespace tv::test {
namespace {

bool IsParkedFor(const std::string& name, const std::string& tail) {
  return name.size() == 38 + tail.size() && name[0] == '{' && name[37] == '}' && name.substr(38) == tail;
}

TEST(Delivery, TwentyFiveScalesInBatchesOfTenCollectedInReverse) {
  Site site;
  std::vector<int> numbers;
  for (int n = 1; n <= 25; ++n) {
    numbers.push_back(n);
    site.AddScale(n);
  }
  site.SetScales(numbers);
  site.Start();
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(25, 60000)) << site.output;
  std::vector<LogLine> log = site.Log();
  ASSERT_EQ(log.size(), 25u);
  std::vector<std::string> order;
  for (const LogLine& l : log) {
    EXPECT_EQ(l.code, 0) << l.address;
    EXPECT_EQ(l.file, "prices.txt");
    order.push_back(l.address);
  }
  std::vector<std::string> want;
  for (int n : {10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 25, 24, 23, 22, 21})
    want.push_back("127.0.0." + std::to_string(n));
  EXPECT_EQ(order, want);
  ASSERT_TRUE(WaitUntil(
      [&] { return !platform::Env::Default()->FileExists(site.exportDir + "/prices.txt"); }, 5000));
  std::map<std::string, int> results = site.Results();
  EXPECT_EQ(results.size(), 25u);
  for (const auto& [name, value] : results) EXPECT_EQ(value, 1) << name;
  // Every scale got the deletion, the goods record and the clock.
  for (int n = 1; n <= 25; ++n) EXPECT_EQ(site.Scale(n).Frames().size(), 3u) << n;
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_TRUE(site.Unsent().empty());
}

TEST(Delivery, ScalesOfOneProfileGetEqualBytesOthersTheirOwn) {
  Site site;
  for (int n = 1; n <= 4; ++n) site.AddScale(n);
  site.SetScales({1, 2, 3, 4}, {1, 3, 1, 3});  // Bench and BigPlatform (barcode prefix 22)
  site.Start();
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(4)) << site.output;
  for (const LogLine& l : site.Log()) EXPECT_EQ(l.code, 0) << l.address;
  std::vector<std::vector<uint8_t>> goods;
  for (int n = 1; n <= 4; ++n) {
    auto frames = site.Scale(n).Frames();
    ASSERT_EQ(frames.size(), 3u) << n;
    ASSERT_GT(frames[1].size(), 21u) << n;
    goods.push_back(frames[1]);
  }
  EXPECT_EQ(goods[0], goods[2]);
  EXPECT_EQ(goods[1], goods[3]);
  // Barcode digits from offset 19: as in the file, or behind the prefix.
  EXPECT_EQ(std::vector<uint8_t>(goods[0].begin() + 19, goods[0].begin() + 22),
            (std::vector<uint8_t>{0x20, 0x01, 0x23}));
  EXPECT_EQ(std::vector<uint8_t>(goods[1].begin() + 19, goods[1].begin() + 22),
            (std::vector<uint8_t>{0x22, 0x01, 0x23}));
  EXPECT_EQ(site.Stop(), 0);
}

TEST(Delivery, FailedScalesGetParkedCopiesThatLaterCyclesDeliverToThemAlone) {
  Site site;
  sim::Behaviour refuse;
  refuse.goodsAnswer = 0x15;
  for (int n : {3, 4, 9}) site.AddScale(n, n == 3 ? sim::Behaviour{} : refuse);
  site.SetScales({3, 4, 9});
  site.Start();
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(3)) << site.output;
  ASSERT_TRUE(WaitUntil(
      [&] { return !platform::Env::Default()->FileExists(site.exportDir + "/prices.txt"); }, 5000));
  std::vector<std::string> parked = site.Unsent();
  ASSERT_EQ(parked.size(), 2u);
  std::sort(parked.begin(), parked.end(), [](const std::string& a, const std::string& b) {
    return a.substr(38) < b.substr(38);
  });
  EXPECT_TRUE(IsParkedFor(parked[0], "prices004.txt")) << parked[0];
  EXPECT_TRUE(IsParkedFor(parked[1], "prices009.txt")) << parked[1];
  EXPECT_EQ(site.Results()["4"], 0);
  EXPECT_EQ(site.Results()["3"], 1);

  // Later cycles retry the copies; a copy that fails again is not logged
  // again and stays.
  size_t scale3Frames = site.Scale(3).Frames().size();
  ASSERT_TRUE(site.Scale(9).WaitForConnections(2, 10000));
  EXPECT_EQ(site.Log().size(), 3u);
  EXPECT_EQ(site.Unsent().size(), 2u);

  // Scale 4 answers again: its copy is delivered to it alone and deleted.
  site.Scale(4).SetBehaviour(sim::Behaviour{});
  ASSERT_TRUE(site.WaitForLog(4)) << site.output;
  LogLine last = site.Log().back();
  EXPECT_EQ(last.address, "127.0.0.4");
  EXPECT_EQ(last.code, 0);
  EXPECT_TRUE(IsParkedFor(last.file, "prices004.txt"));
  ASSERT_TRUE(WaitUntil([&] { return site.Unsent().size() == 1; }, 5000));
  EXPECT_TRUE(IsParkedFor(site.Unsent()[0], "prices009.txt"));
  // The copy is deleted before the result is stored.
  EXPECT_TRUE(WaitUntil([&] { return site.Results()["4"] == 1; }, 5000)) << site.Results()["4"];
  EXPECT_EQ(site.Scale(3).Frames().size(), scale3Frames) << "parked copies go to their own scale only";
  EXPECT_EQ(site.Stop(), 0);
}

TEST(Delivery, UnparseableFilesStrangersAndAnEmptyScaleList) {
  Site site;
  site.AddScale(5);
  site.SetScales({5});
  // A parked copy for scale 12, which is not in the list, stays untouched.
  std::string stranger = "{00000000-0000-0000-0000-000000000000}prices012.txt";
  WriteFile(site.exportDir + "/Unsent/" + stranger, GoodsFile());
  site.Start();
  site.Drop("junk.txt", "this is no goods file\r\n");
  ASSERT_TRUE(site.WaitForLog(1)) << site.output;
  LogLine l = site.Log()[0];
  EXPECT_EQ(l.code, 6);
  EXPECT_EQ(l.address, "");
  EXPECT_EQ(l.file, "junk.txt");
  ASSERT_TRUE(WaitUntil(
      [&] { return !platform::Env::Default()->FileExists(site.exportDir + "/junk.txt"); }, 5000));
  EXPECT_EQ(site.Scale(5).Connections(), 0);
  EXPECT_TRUE(site.Results().empty()) << "a result without an address names no scale";
  EXPECT_EQ(site.Unsent(), std::vector<std::string>{stranger});
  EXPECT_EQ(site.Stop(), 0);

  // An empty scale list starts no client and still deletes common files.
  site.SetScales({});
  site.Start();
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(WaitUntil(
      [&] { return !platform::Env::Default()->FileExists(site.exportDir + "/prices.txt"); },
      10000));
  EXPECT_EQ(site.Log().size(), 1u);
  EXPECT_EQ(site.Scale(5).Connections(), 0);
  EXPECT_EQ(site.Stop(), 0);
}

TEST(Delivery, AFileWithNothingForTheScaleIsNeverParked) {
  Site site;
  site.AddScale(5);
  site.SetScales({5});
  // One A line with a goods number no scale can take: read, but no frame.
  // The new file is refused whole, the parked copy dropped for its scale.
  const std::string nothing = Lines(GoodsFile(1000000))[1] + "\r\n";
  const std::string legacyCopy = "{00000000-0000-0000-0000-0000000000AB}empty005.txt";
  WriteFile(site.exportDir + "/Unsent/" + legacyCopy, nothing);
  site.Drop("empty.txt", nothing);
  site.Start();
  ASSERT_TRUE(site.WaitForLog(1)) << site.output;
  ASSERT_TRUE(WaitUntil(
      [&] { return !platform::Env::Default()->FileExists(site.exportDir + "/empty.txt"); }, 10000));
  LogLine l = site.Log()[0];
  EXPECT_EQ(l.address, "");
  EXPECT_EQ(l.code, 6);
  EXPECT_EQ(l.file, "empty.txt");
  EXPECT_TRUE(
      WaitUntil([&] { return site.Rejected() == std::vector<std::string>{"empty.txt"}; }, 5000));
  // A copy parked before could never succeed either: it goes, with a reason.
  EXPECT_TRUE(WaitUntil([&] { return site.Unsent().empty(); }, 5000))
      << ::testing::PrintToString(site.Unsent());
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_NE(site.output.find("scale 5: parked copy " + legacyCopy +
                             " removed: it holds nothing for this scale"),
            std::string::npos)
      << site.output;
  EXPECT_EQ(site.Log().size(), 1u);
}

TEST(Delivery, AMalformedAddressPrefixStopsTheStartAndTheMendedOneDelivers) {
  Site site;
  site.AddScale(5);
  site.SetScales({5});
  site.SetString("IPAdress",
                 "127.0.0.1.");  // "127.0.0.1.5" is no address: nothing leaves the machine
  site.Drop("prices.txt", GoodsFile());
  site.Start();
  ASSERT_TRUE(site.service->Wait(Scaled(20000))) << site.Output();
  EXPECT_NE(site.service->ExitCode(), 0);
  EXPECT_NE(site.service->Output().find("IPAdress \"127.0.0.1.\" is not three dotted numbers"),
            std::string::npos)
      << site.service->Output();
  site.service.reset();
  EXPECT_TRUE(site.Log().empty());
  EXPECT_TRUE(site.Unsent().empty());
  EXPECT_TRUE(platform::FileExists(site.exportDir + "/prices.txt"))
      << "the file waits for a service that can run";

  // Mended, the prefix delivers the file to its scale.
  site.SetString("IPAdress", "127.0.0.");
  site.Start();
  ASSERT_TRUE(site.WaitForLog(1)) << site.output;
  EXPECT_EQ(site.Log()[0].address, "127.0.0.5");
  EXPECT_EQ(site.Log()[0].code, 0);
  EXPECT_TRUE(WaitUntil([&] { return site.Results()["5"] == 1; }, 5000));
  EXPECT_EQ(site.Stop(), 0);
}

TEST(Delivery, StopDuringACycleWaitsForItsLastClient) {
  Site site;
  sim::Behaviour slow;
  slow.delayMs = 1500;
  site.AddScale(7, slow);
  site.SetScales({7});
  site.Start();
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.Scale(7).WaitForFrames(1, 10000));
  EXPECT_EQ(site.Stop(), 0) << site.output;
  // The cycle finished before the service ended: all three frames were
  // answered and the attempt was logged.
  EXPECT_EQ(site.Scale(7).Frames().size(), 3u);
  ASSERT_EQ(site.Log().size(), 1u);
  EXPECT_EQ(site.Log()[0].code, 0);
}

}  // namespace
}  // namespace tv::test
