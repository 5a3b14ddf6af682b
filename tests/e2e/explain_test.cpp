// What `tovalink explain` says a scale will receive is what the scale then
// receives from the running service, frame for frame, for two scales of
// different types.
#include <gtest/gtest.h>

#include <regex>

#include "decode/bytes.h"
#include "site.h"

namespace tv::test {
namespace {

// The frames of explain's JSON, as hex: each frame's own "hex" closes its
// decoded object, where a text line's "hex" is followed by its "end".
std::vector<std::string> ExplainedFrames(const std::string& json) {
  std::vector<std::string> out;
  static const std::regex kFrameHex("\"hex\":\"([0-9A-F]*)\"\\}\\}");
  for (std::sregex_iterator it(json.begin(), json.end(), kFrameHex), end; it != end; ++it)
    out.push_back((*it)[1]);
  return out;
}

std::vector<std::string> Received(const sim::SimScale& scale) {
  std::vector<std::string> out;
  for (const std::vector<uint8_t>& f : scale.Frames()) out.push_back(decode::Hex(f.data(), f.size()));
  return out;
}

TEST(ExplainEndToEnd, ExplainedFramesAreTheFramesEachScaleReceives) {
  Site site;
  site.SetScales({1, 2}, {3, 5});  // BigPlatform, SM700
  site.SetValue("ImportType", 1);
  site.SetValue("TextToOEM", 1);
  site.AddScale(1);
  site.AddScale(2);
  // The service runs with LC_ALL=C: ',' between fields, '.' before decimals.
  const std::string file =
      "D,000777\r\n"
      "A,9912345,000123,x,x,0,0,1.50,5,x,Apple pie with cinnamon and sugar\r\n"
      "A,000124,4600001,2.25,1,1,30,1,Pear\r\n"
      "A,broken\r\n"
      "I,000123,Flour,Sugar,\r\n"
      "T,2024,3,5,9,7\r\n";
  const std::string path = site.home / "prices.txt";
  WriteFile(path, file);

  std::map<int, std::vector<std::string>> explained;
  for (int scale : {1, 2}) {
    std::string out;
    const int code = RunBinary({TovalinkBinary(), "explain", path, "--json", "--scale", std::to_string(scale)},
                               {"TOVALINK_HOME=" + site.home.Path(), "LC_ALL=C"}, out);
    ASSERT_EQ(code, 2) << "the broken A line is skipped: " << out;
    explained[scale] = ExplainedFrames(out);
    ASSERT_EQ(explained[scale].size(), 4u) << out;
  }
  EXPECT_NE(explained[1][1], explained[2][1]) << "the two types get different goods records";

  site.Start();
  site.Drop("prices.txt", file);
  ASSERT_TRUE(site.WaitForLog(2)) << site.output;
  ASSERT_EQ(site.Stop(), 0) << site.output;
  EXPECT_EQ(Received(site.Scale(1)), explained[1]);
  EXPECT_EQ(Received(site.Scale(2)), explained[2]);
}

}  // namespace
}  // namespace tv::test
