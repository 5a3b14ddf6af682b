// `tovalink resend` against the real service and simulated scales: a scale
// given again what the ledger says a scale holds receives, byte for byte,
// the goods records the first delivery gave; a record no line can make
// again stops the command before anything is written.
#include <gtest/gtest.h>

#include "platform/ledger.h"
#include "site.h"

namespace tv::test {
namespace {

// Fixed-width A line of goods `code` with a name and a price.
std::string Line(int code, const std::string& price, const std::string& name) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%015d", code);
  std::string a =
      "A200123400000" + std::string(buf) + "0000" + "0000" + "10" + price + "005" + "0000" + name;
  a.resize(1 + 132, ' ');
  return a + "\r\n";
}

// Goods 124 carries ingredient text from an I line, 125 a name long enough
// to be split over two label lines.
const std::string kPrices = "I000000000000124Flour\x03Sugar\x03\r\n" +
                            Line(123, "00001.50", "Apple") + Line(124, "00012.35", "Honey cake") +
                            Line(125, "00000.99", "Granny Smith apples from the orchard") +
                            "T202403050907\r\n";

int Tovalink(Site& site, const std::vector<std::string>& args, std::string& out) {
  std::vector<std::string> all = {TovalinkBinary()};
  all.insert(all.end(), args.begin(), args.end());
  return RunBinary(all, {"TOVALINK_HOME=" + site.home.Path(), "LC_ALL=C"}, out);
}

// The goods records among the frames a scale received, clock frames aside.
std::vector<std::vector<uint8_t>> Records(const sim::SimScale& scale) {
  std::vector<std::vector<uint8_t>> out;
  for (const auto& f : scale.Frames())
    if (f.size() > 2 && f[0] == 0xF1 && f[1] == 0x25) out.push_back(f);
  std::sort(out.begin(), out.end());
  return out;
}

size_t Held(Site& site, int scale) {
  platform::Ledger ledger;
  std::vector<platform::LedgerEntry> entries;
  if (!ledger.Open(site.home / "ledger.db", true).ok() || !ledger.Holdings(scale, entries).ok())
    return 0;
  return entries.size();
}

// Scale 1 has had the price list; the service is stopped.
void DeliverToScaleOne(Site& site) {
  site.AddScale(1);
  site.AddScale(2);
  site.SetScales({1});
  site.Start();
  site.Drop("prices.txt", kPrices);
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  ASSERT_TRUE(WaitUntil([&] { return Held(site, 1) == 3; }, 10000)) << site.Output();
  ASSERT_EQ(site.Stop(), 0);
  ASSERT_EQ(Records(site.Scale(1)).size(), 3u);
}

TEST(Resend, GivesAScaleByteForByteWhatTheLedgerSaysItsNeighbourHolds) {
  Site site;
  DeliverToScaleOne(site);
  const auto received = Records(site.Scale(1));
  site.SetScales({1, 2});
  std::string out;
  ASSERT_EQ(Tovalink(site, {"resend", "--scale", "2", "--from", "1"}, out), 0) << out;
  EXPECT_NE(out.find("3 goods records held by scale 1, for scale 2"), std::string::npos) << out;
  // The copy is one `unsent list` shows for scale 2, under a name of its own.
  ASSERT_EQ(Tovalink(site, {"unsent", "list", "--scale", "2", "--json"}, out), 0) << out;
  EXPECT_NE(out.find("\"scale\":2,\"kind\":\"goods\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"original\":\"resendfrom001.txt\""), std::string::npos) << out;

  site.Start();
  ASSERT_TRUE(WaitUntil([&] { return Records(site.Scale(2)).size() == 3; }, 30000))
      << site.Output();
  EXPECT_EQ(Records(site.Scale(2)), received);
  ASSERT_TRUE(WaitUntil([&] { return site.Unsent().empty(); }, 10000)) << site.Output();
  EXPECT_NE(site.Output().find("asked to give scale 2 again the 3 goods records scale 1 holds: {"),
            std::string::npos)
      << site.Output();
  EXPECT_NE(site.Output().find("uid "), std::string::npos) << site.Output();

  // A reset scale 1 gets the same again from its own entries; the request
  // is said once.
  site.AddScale(1);
  ASSERT_EQ(Tovalink(site, {"resend", "--scale", "1"}, out), 0) << out;
  ASSERT_TRUE(WaitUntil([&] { return Records(site.Scale(1)).size() == 3; }, 30000))
      << site.Output();
  EXPECT_EQ(Records(site.Scale(1)), received);
  ASSERT_TRUE(
      WaitUntil([&] { return site.Output().find("records it holds") != std::string::npos; }, 10000))
      << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  const std::string log = site.Output();
  EXPECT_EQ(log.find("asked to give scale 2", log.find("asked to give scale 2") + 1),
            std::string::npos)
      << log;
}

TEST(Resend, RefusesWithoutALedgerAnUnknownScaleOrBadArguments) {
  Site site;
  site.SetScales({1, 2});
  std::string out;
  EXPECT_EQ(Tovalink(site, {"resend", "--scale", "1"}, out), 1) << out;
  EXPECT_NE(out.find("no ledger"), std::string::npos) << out;
  EXPECT_EQ(Tovalink(site, {"resend", "--scale", "2", "--from", "7"}, out), 1) << out;
  EXPECT_NE(out.find("scale 7 is not in the scale list"), std::string::npos) << out;
  EXPECT_EQ(Tovalink(site, {"resend", "--from", "1"}, out), 2) << out;
  EXPECT_EQ(Tovalink(site, {"resend", "--scale", "x"}, out), 2) << out;
  EXPECT_EQ(Tovalink(site, {"resend", "--scale", "1", "extra"}, out), 2) << out;
  EXPECT_EQ(Tovalink(site, {"resend", "-h"}, out), 0) << out;
  EXPECT_TRUE(site.Unsent().empty());
}

TEST(Resend, WritesNothingWhenARecordCannotBeMadeAgain) {
  Site site;
  DeliverToScaleOne(site);
  site.SetScales({1, 2});
  std::string out;
  EXPECT_EQ(Tovalink(site, {"resend", "--scale", "2"}, out), 1) << out;
  EXPECT_NE(out.find("holds nothing for scale 2"), std::string::npos) << out;

  // The label format is taken from the settings: the records scale 1 holds
  // no longer come out of any line.
  site.SetValue("LFormat", 20);
  EXPECT_EQ(Tovalink(site, {"resend", "--scale", "2", "--from", "1"}, out), 1) << out;
  EXPECT_NE(out.find("3 of 3 records"), std::string::npos) << out;
  EXPECT_NE(out.find("goods 123: label format 17 would be made as 20"), std::string::npos) << out;
  EXPECT_TRUE(site.Unsent().empty()) << "nothing written, not even a temporary file";

  ASSERT_EQ(Tovalink(site, {"resend", "--scale", "2", "--from", "1", "--force"}, out), 0) << out;
  EXPECT_NE(out.find("3 of them will reach the scale with other bytes"), std::string::npos) << out;
  EXPECT_EQ(site.Unsent().size(), 1u);
}

}  // namespace
}  // namespace tv::test
