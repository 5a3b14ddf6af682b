// The metrics exposition and the status page rendered from one status:
// the samples a scraper relies on, and no text that can break the page.
#include "engine/statusviews.h"

#include <gtest/gtest.h>

#include "engine/metricsserver.h"

namespace tv {
namespace {

TLocalStatus AShop() {
  TLocalStatus s;
  s.filesWaiting = 3;
  s.exportsLockedSince = 1700000000;
  TScaleHistory& h = s.scales[4];
  h.lastCode = 2;
  h.parked = 2;
  h.oldestParked = 1700000000;
  TFactsRecord f;
  f.settingsFault = "SocketPort <is> \"bad\"";
  f.rejected = {1, "<img src=x>.txt", "no line & nothing", 1700000000};
  TScaleFacts& down = f.scales[4];
  down.known = true;
  down.cause = "<script>alert(1)</script>";
  down.deliveries = {{2, 3}};
  f.scales[7].known = true;
  f.scales[7].delivered = true;
  s.facts = f;
  return s;
}

TEST(StatusViews, MetricsCarryEveryScaleOfEitherSourceAndTheServiceState) {
  const std::string m = RenderMetrics(AShop(), 1700003600);
  EXPECT_NE(m.find("tovalink_scale_last_result_code{scale=\"4\"} 2\n"), std::string::npos) << m;
  EXPECT_NE(m.find("tovalink_scale_oldest_parked_age_seconds{scale=\"4\"} 3600\n"),
            std::string::npos);
  // Scale 7 is known only to the facts, not to the log or Unsent.
  EXPECT_NE(m.find("tovalink_scale_parked_files{scale=\"7\"} 0\n"), std::string::npos);
  EXPECT_NE(m.find("tovalink_scale_oldest_parked_age_seconds{scale=\"7\"} 0\n"), std::string::npos);
  EXPECT_NE(m.find("tovalink_scale_failing{scale=\"4\"} 1\n"), std::string::npos);
  EXPECT_NE(m.find("tovalink_scale_deliveries_total{scale=\"4\",code=\"2\"} 3\n"),
            std::string::npos);
  EXPECT_NE(m.find("tovalink_exports_locked 1\n"), std::string::npos);
  EXPECT_NE(m.find("tovalink_configuration_error 1\n"), std::string::npos);
  EXPECT_NE(m.find("tovalink_files_waiting 3\n"), std::string::npos);
  EXPECT_NE(m.find("tovalink_files_rejected_total 1\n"), std::string::npos);
  // Each family is declared once, before its samples.
  EXPECT_EQ(m.find("# TYPE tovalink_scale_failing gauge"),
            m.rfind("# TYPE tovalink_scale_failing gauge"));
  EXPECT_LT(m.find("# TYPE tovalink_scale_failing"), m.find("tovalink_scale_failing{"));
}

TEST(StatusViews, ThePageEscapesEveryTextAndOffersNoAction) {
  const std::string page = RenderStatusPage(AShop(), 1700003600);
  EXPECT_EQ(page.find("<script"), std::string::npos) << page;
  EXPECT_EQ(page.find("<img"), std::string::npos) << page;
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << page;
  EXPECT_NE(page.find("no line &amp; nothing"), std::string::npos);
  EXPECT_NE(page.find("SocketPort &lt;is&gt; &quot;bad&quot;"), std::string::npos);
  EXPECT_NE(page.find("<tr class=\"failed\" data-scale=\"4\">"), std::string::npos);
  EXPECT_NE(page.find("<tr class=\"delivered\" data-scale=\"7\">"), std::string::npos);
  EXPECT_NE(page.find("<meta http-equiv=\"refresh\""), std::string::npos);
  EXPECT_EQ(page.find("<form"), std::string::npos);
  EXPECT_EQ(page.find("http://"), std::string::npos);
  EXPECT_EQ(page.find("https://"), std::string::npos);
}

TEST(MetricsAddressValue, TakesAddressAndPortOrOff) {
  EXPECT_TRUE(ParseMetricsAddress("off").value().off);
  const auto lan = ParseMetricsAddress("192.168.0.5:9100");
  ASSERT_TRUE(lan.ok());
  EXPECT_EQ(lan.value().address, "192.168.0.5");
  EXPECT_EQ(lan.value().port, 9100);
  const auto unset = ParseMetricsAddress("");
  ASSERT_TRUE(unset.ok());
  EXPECT_EQ(unset.value().address, "127.0.0.1");
  EXPECT_EQ(unset.value().port, 9957);
  for (const char* bad :
       {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:http", "shop:9957", "off:1"})
    EXPECT_FALSE(ParseMetricsAddress(bad).ok()) << bad;
}

}  // namespace
}  // namespace tv
