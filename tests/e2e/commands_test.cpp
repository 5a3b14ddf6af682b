// The operator's commands against a running service: scales added with
// `tovalink scale` are delivered to at the next cycle, and what a failing
// scale leaves parked is listed and dropped with `tovalink unsent`.
#include <gtest/gtest.h>

#include "site.h"

namespace tv::test {
namespace {

std::string OneKeyKeyboardFile() {
  return "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
         "<xml_archive>\r\n"
         " <keyboard name=\"template\"/>\r\n"
         " <keyboard name=\"Fruit\">\r\n"
         "  <key key_menu=\"true\" key_index=\"15\"><layer_text><text>Pear</text></layer_text>"
         "<layer_image file_name=\"pear.png\"/></key>\r\n"
         " </keyboard>\r\n"
         "</xml_archive>\r\n";
}

class CommandsEndToEnd : public ::testing::Test {
 protected:
  int Tovalink(std::vector<std::string> args, std::string& out) {
    args.insert(args.begin(), TovalinkBinary());
    return RunBinary(args, {"TOVALINK_HOME=" + site.home.Path()}, out);
  }
  static bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
  Site site;
};

TEST_F(CommandsEndToEnd, ScalesAddedWhileRunningAreServedAndTheirParkedFilesListedAndDropped) {
  site.AddScale(1);
  sim::Behaviour refusing;
  refusing.deleteAnswer = 0x15;
  refusing.goodsAnswer = 0x15;
  site.AddScale(2, refusing, false);  // refuses goods, keyboard port closed
  site.Start();

  std::string out;
  ASSERT_EQ(Tovalink({"scale", "remove", "91"}, out), 0) << out;
  ASSERT_EQ(Tovalink({"scale", "add", "1", "--type", "SM700"}, out), 0) << out;
  ASSERT_EQ(Tovalink({"scale", "add", "2", "--type", "SM700"}, out), 0) << out;

  site.Drop("prices.txt", GoodsFile(55));
  ASSERT_TRUE(site.WaitForLog(2)) << site.output;
  site.Drop("keys.xml", OneKeyKeyboardFile());
  ASSERT_TRUE(site.WaitForLog(4)) << site.output;
  // A copy is written under a hidden name first; wait for both real ones.
  auto parked = [&] {
    size_t n = 0;
    for (const std::string& name : site.Unsent()) n += name[0] == '{';
    return n;
  };
  ASSERT_TRUE(WaitUntil([&] { return parked() == 2; }, 10000));
  std::map<std::string, int> codes;
  for (const LogLine& l : site.Log()) codes[l.address + " " + l.file] = l.code;
  EXPECT_EQ(codes["127.0.0.1 prices.txt"], 0);
  EXPECT_EQ(codes["127.0.0.2 prices.txt"], 3);
  EXPECT_EQ(codes["127.0.0.1 keys.xml"], 0);
  EXPECT_EQ(codes["127.0.0.2 keys.xml"], 18) << "held back behind its undelivered goods file";
  EXPECT_FALSE(site.Scale(1).Frames().empty()) << "the scale added by command received the goods file";

  ASSERT_EQ(Tovalink({"scale", "list", "--json"}, out), 0) << out;
  EXPECT_TRUE(Has(out, "\"scale\":1,\"address\":\"127.0.0.1\",\"port\":3001,\"type\":\"SM700\"")) << out;
  EXPECT_TRUE(Has(out, "\"last_result\":\"delivered\",\"parked\":0}")) << out;
  EXPECT_TRUE(Has(out, "\"last_result\":\"failed\",\"parked\":2}")) << out;

  ASSERT_EQ(Tovalink({"unsent", "list", "--scale", "2", "--json"}, out), 0) << out;
  EXPECT_TRUE(Has(out, "\"scale\":2,\"kind\":\"goods\",\"file\":\"{")) << out;
  EXPECT_TRUE(Has(out, "prices002.txt\",\"original\":\"prices.txt\",\"age_seconds\":")) << out;
  EXPECT_TRUE(Has(out, "\"scale\":2,\"kind\":\"keyboard\"")) << out;
  EXPECT_TRUE(Has(out, "keys002.xml\",\"original\":\"keys.xml\"")) << out;
  EXPECT_FALSE(Has(out, "\"in_scale_list\":false")) << out;
  ASSERT_EQ(Tovalink({"unsent", "list", "--scale", "1"}, out), 0) << out;
  EXPECT_EQ(out, "store " + site.StorePath() + "\nNothing is parked.\n");

  // Once the scale leaves the list its goods copy can never be delivered:
  // the listing says so.
  ASSERT_EQ(Tovalink({"scale", "remove", "2"}, out), 0) << out;
  ASSERT_EQ(Tovalink({"unsent", "list"}, out), 0) << out;
  std::vector<std::string> lines = Lines(out);
  ASSERT_EQ(lines.size(), 4u) << out;
  EXPECT_EQ(lines[0], "store " + site.StorePath());
  for (size_t i = 2; i < lines.size(); ++i)
    EXPECT_TRUE(Has(lines[i], "(scale not in the list)")) << lines[i];

  std::string goodsCopy;
  for (const std::string& name : site.Unsent())
    if (Has(name, "prices002.txt")) goodsCopy = name;
  ASSERT_FALSE(goodsCopy.empty());
  EXPECT_NE(Tovalink({"unsent", "drop", "--scale", "1", goodsCopy}, out), 0) << "not scale 1's file";
  ASSERT_EQ(Tovalink({"unsent", "drop", "--scale", "2", goodsCopy}, out), 0) << out;
  EXPECT_EQ(out,
            "store " + site.StorePath() + "\ndropped " + goodsCopy + " (scale 2, prices.txt)\n");
  ASSERT_EQ(Tovalink({"unsent", "drop", "--scale", "2", "--all"}, out), 0) << out;
  EXPECT_TRUE(Has(out, "keys002.xml (scale 2, keys.xml)\n")) << out;
  EXPECT_EQ(Lines(out).size(), 2u) << out;
  EXPECT_TRUE(site.Unsent().empty());
  EXPECT_EQ(site.Stop(), 0) << site.output;
}

// The Rejected folder worked as a queue: why and when each file was
// rejected, back into the export directory without overwriting a newer
// export of the same name, or away.
TEST_F(CommandsEndToEnd, RejectedFilesAreListedWithTheirReasonRetriedAndDropped) {
  site.AddScale(5);
  site.SetScales({5});
  site.Start();
  site.Drop("junk.txt", "this is no goods file\r\n");
  site.Drop("junk2.txt", "nor is this\r\n");
  ASSERT_TRUE(WaitUntil([&] { return site.Rejected().size() == 2; }, 10000)) << site.output;
  EXPECT_EQ(site.Stop(), 0);

  std::string out;
  ASSERT_EQ(Tovalink({"rejected", "list", "--json"}, out), 0) << out;
  EXPECT_TRUE(Has(out, "{\"file\":\"junk.txt\",\"kind\":\"goods\",\"rejected_at\":\"")) << out;
  EXPECT_TRUE(Has(out, "\"size\":23,\"reason\":\"")) << out;
  EXPECT_FALSE(Has(out, "\"reason\":null")) << "the service kept a reason for each: " << out;
  ASSERT_EQ(Tovalink({"rejected", "list"}, out), 0) << out;
  ASSERT_EQ(Lines(out).size(), 4u) << out;  // the store, the heading, two files
  EXPECT_TRUE(Has(Lines(out)[1], "Rejected at")) << out;

  // A newer export of the same name is never overwritten.
  WriteFile(site.exportDir + "/junk.txt", "newer");
  EXPECT_EQ(Tovalink({"rejected", "retry", "junk.txt"}, out), 1) << out;
  EXPECT_TRUE(Has(out, "exists already; nothing was moved")) << out;
  EXPECT_EQ(ReadFile(site.exportDir + "/junk.txt"), "newer");
  ASSERT_EQ(::unlink((site.exportDir + "/junk.txt").c_str()), 0);
  ASSERT_EQ(Tovalink({"rejected", "retry", "junk.txt"}, out), 0) << out;
  EXPECT_EQ(ReadFile(site.exportDir + "/junk.txt"), "this is no goods file\r\n");

  ASSERT_EQ(Tovalink({"rejected", "drop", "junk2.txt"}, out), 0) << out;
  EXPECT_TRUE(site.Rejected().empty());
  std::vector<platform::FoundFile> left;
  platform::Env::Default()->FindFiles(site.exportDir + "/Rejected/*", &left);
  EXPECT_TRUE(left.empty()) << "no reason outlives its file: " << left[0].name;

  EXPECT_EQ(Tovalink({"rejected", "drop", "junk2.txt"}, out), 1) << out;
  EXPECT_EQ(Tovalink({"rejected", "drop", "../registry.db"}, out), 1) << out;
  EXPECT_TRUE(platform::Env::Default()->FileExists(site.StorePath()));
  EXPECT_EQ(Tovalink({"rejected", "retry"}, out), 2) << out;
  ASSERT_EQ(Tovalink({"rejected", "list"}, out), 0) << out;
  EXPECT_TRUE(Has(out, "Nothing is rejected.")) << out;
}

// `unsent list` shows the export file a copy was parked from; that name
// drops the copy too.
TEST_F(CommandsEndToEnd, UnsentDropTakesTheOriginalNameAsListShowsIt) {
  site.SetScales({2});
  ASSERT_TRUE(platform::Env::Default()->CreateDirectories(site.exportDir + "/Unsent").ok());
  const std::string parked = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}prices002.txt";
  WriteFile(site.exportDir + "/Unsent/" + parked, GoodsFile(1));
  std::string out;
  ASSERT_EQ(Tovalink({"unsent", "drop", "--scale", "2", "prices.txt"}, out), 0) << out;
  EXPECT_TRUE(Has(out, "dropped " + parked + " (scale 2, prices.txt)")) << out;
  EXPECT_TRUE(site.Unsent().empty());
}

// `check --network` tells a scale that answers from one whose port nobody
// listens on, per port, without a service running.
TEST_F(CommandsEndToEnd, CheckNetworkTriesEachScalesPorts) {
  site.SetScales({1, 2, 3}, {0, 0, 5});  // 3 is an SM700
  site.AddScale(1);
  site.AddScale(3, {}, false);  // its keyboard port is closed
  std::string out;
  EXPECT_EQ(Tovalink({"check", "--network"}, out), 1) << out;
  EXPECT_TRUE(Has(out, "scale 1 127.0.0.1: ping answered, goods port 3001 reachable\n")) << out;
  EXPECT_TRUE(Has(out, "scale 2 127.0.0.2: ping answered, goods port 3002 refused\n")) << out;
  EXPECT_TRUE(Has(out, "scale 3 127.0.0.3: ping answered, goods port 3003 reachable, keyboard port 2003 refused\n"))
      << out;

  site.SetScales({1});
  EXPECT_EQ(Tovalink({"check", "--network"}, out), 0) << out;
  EXPECT_EQ(Tovalink({"check", "--networks"}, out), 2) << out;
}

// A misspelt value name is kept by the store and never read; check says
// so and names the value meant.
TEST_F(CommandsEndToEnd, CheckWarnsAboutValueNamesTheServiceNeverReads) {
  std::string out;
  const std::string key = "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+";
  ASSERT_EQ(Tovalink({"reg", "add", key, "/v", "VerInterval", "/t", "REG_DWORD", "/d", "10", "/f"}, out), 0) << out;
  Tovalink({"check"}, out);
  EXPECT_FALSE(Has(out, "never read")) << "the defaults hold no stray name: " << out;
  ASSERT_EQ(Tovalink({"reg", "add", key, "/v", "VerIntervall", "/t", "REG_DWORD", "/d", "10", "/force"}, out), 0)
      << out;
  Tovalink({"check"}, out);
  EXPECT_TRUE(Has(out, "warning: VerIntervall in Tovalin+ is never read by the service; did you mean VerInterval?"))
      << out;
}

}  // namespace
}  // namespace tv::test
