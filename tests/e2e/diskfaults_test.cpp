// The real service on a failing disk (TOVALINK_TEST_FAULTS): what it could
// not write is reported with its reason, and the cycle goes on.
#include <gtest/gtest.h>

#include "site.h"

namespace tv::test {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(DiskFaults, ALostLogLineAndAnUnparkedCopyAreReportedWithTheirReason) {
  Site site;
  site.AddHealthyAndRefusing(3, 4);
  site.Start({"TOVALINK_TEST_FAULTS=append:ENOSPC:times=1:path=*/sclogo.csv;link:ENOSPC:path=*/Unsent/*"});
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(1)) << site.output;
  // Scale 4 has no parked copy, so the file stays for the next cycle.
  ASSERT_TRUE(WaitUntil([&] { return Contains(site.Output(), "prices.txt kept in the export directory"); }, 10000))
      << site.Output();
  EXPECT_EQ(site.Stop(), 0);

  EXPECT_TRUE(platform::Env::Default()->FileExists(site.exportDir + "/prices.txt"));
  // Every cycle logs both scales, and exactly one line met the full disk.
  EXPECT_EQ(site.Log().size() % 2, 1u) << "one of the two lines met the full disk";
  EXPECT_TRUE(site.Unsent().empty()) << "neither a parked copy nor its temporary file";
  EXPECT_EQ(site.Results()["3"], 1);
  EXPECT_EQ(site.Results()["4"], 0);
  const std::string& out = site.output;
  EXPECT_TRUE(Contains(out, "TOVALINK_TEST_FAULTS=append:ENOSPC")) << out;
  EXPECT_TRUE(Contains(out, "delivery log line for prices.txt lost: append " + site.logDir +
                                "/sclogo.csv: No space left on device"))
      << out;
  EXPECT_TRUE(Contains(out, site.exportDir + "/prices.txt not parked for 127.0.0.4: link " + site.exportDir +
                                "/Unsent/{"))
      << out;
}

}  // namespace
}  // namespace tv::test
