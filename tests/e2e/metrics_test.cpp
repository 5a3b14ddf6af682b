// The metrics and status page listener of a running service, seen from
// outside: a scraper's exposition (checked by promtool when it is there)
// and the page as a real browser renders it.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/net.h"
#include "site.h"

namespace tv::test {
namespace {

constexpr uint16_t kMetricsPort = 19957;

// The whole reply to one GET, headers included; empty when nobody listens.
std::string Get(const std::string& path) {
  platform::TcpSocket s;
  if (!s.Create() || !s.Connect("127.0.0.1", kMetricsPort)) return {};
  s.SetRecvTimeout(5000);
  const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (!s.SendAll(request.data(), request.size())) return {};
  std::string reply;
  char buf[4096];
  for (long n; (n = s.Recv(buf, sizeof buf)) > 0;) reply.append(buf, static_cast<size_t>(n));
  return reply;
}

std::string Body(const std::string& reply) {
  const size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

// One healthy scale (1) and one refusing every record (2), after a goods
// file has reached both.
class ShopWatched : public ::testing::Test {
 protected:
  void SetUp() override {
    site.AddHealthyAndRefusing(1, 2);
    site.SetString("MetricsAddress", "127.0.0.1:" + std::to_string(kMetricsPort));
    site.Start();
    site.Drop("goods.txt", GoodsFile());
    ASSERT_TRUE(site.WaitForLog(2, Scaled(30000))) << site.Output();
    // The cycle's end publishes its count after the log lines.
    ASSERT_TRUE(WaitUntil(
        [&] {
          const std::string m = Body(Get("/metrics"));
          return m.find("tovalink_cycles_total ") != std::string::npos &&
                 m.find("tovalink_cycles_total 0\n") == std::string::npos;
        },
        Scaled(20000)))
        << site.Output();
  }
  Site site;
};

TEST_F(ShopWatched, MetricsShowEachScaleAndTheService) {
  const std::string reply = Get("/metrics");
  EXPECT_NE(reply.find("Content-Type: text/plain; version=0.0.4"), std::string::npos) << reply;
  const std::string m = Body(reply);
  EXPECT_NE(m.find("tovalink_scale_last_result_code{scale=\"1\"} 0\n"), std::string::npos) << m;
  EXPECT_EQ(m.find("tovalink_scale_last_result_code{scale=\"2\"} 0\n"), std::string::npos) << m;
  EXPECT_NE(m.find("tovalink_scale_failing{scale=\"1\"} 0\n"), std::string::npos) << m;
  EXPECT_NE(m.find("tovalink_scale_failing{scale=\"2\"} 1\n"), std::string::npos) << m;
  EXPECT_NE(m.find("tovalink_scale_parked_files{scale=\"1\"} 0\n"), std::string::npos) << m;
  EXPECT_NE(m.find("tovalink_scale_parked_files{scale=\"2\"} 1\n"), std::string::npos) << m;
  EXPECT_NE(m.find("tovalink_scale_deliveries_total{scale=\"1\",code=\"0\"} 1\n"),
            std::string::npos)
      << m;
  // The file's deletion, goods line and clock line.
  EXPECT_NE(m.find("tovalink_scale_frames_sent_total{scale=\"1\"} 3\n"), std::string::npos) << m;
  EXPECT_NE(m.find("tovalink_scale_last_success_timestamp_seconds{scale=\"1\"} "),
            std::string::npos)
      << m;
  EXPECT_EQ(m.find("tovalink_scale_last_success_timestamp_seconds{scale=\"2\"}"), std::string::npos)
      << m;
  EXPECT_NE(m.find("tovalink_scale_last_attempt_timestamp_seconds{scale=\"2\"} "),
            std::string::npos)
      << m;
  EXPECT_NE(m.find("tovalink_exports_locked 0\n"), std::string::npos) << m;
  EXPECT_NE(m.find("tovalink_configuration_error 0\n"), std::string::npos) << m;
  EXPECT_NE(m.find("tovalink_build_info{version=\""), std::string::npos) << m;
  EXPECT_NE(m.find("tovalink_start_time_seconds "), std::string::npos) << m;
  EXPECT_NE(m.find("tovalink_files_waiting 0\n"), std::string::npos) << m;
  // Nothing to write through this listener.
  EXPECT_NE(Get("/nothing").find(" 404 "), std::string::npos);
}

TEST_F(ShopWatched, PromtoolAcceptsTheExposition) {
  if (access("/usr/bin/promtool", X_OK) != 0)
    GTEST_SKIP() << "promtool is missing (Debian package prometheus): exposition not linted";
  const std::string file = site.home / "metrics.txt";
  WriteFile(file, Body(Get("/metrics")));
  Process lint({"/bin/sh", "-c", "/usr/bin/promtool check metrics < " + file}, {});
  ASSERT_TRUE(lint.Wait(Scaled(30000)));
  EXPECT_EQ(lint.ExitCode(), 0) << lint.Output();
}

// The DOM as headless Chromium renders it, not the text the service sent.
TEST_F(ShopWatched, BrowserShowsAFailedAndADeliveredScale) {
  if (access("/usr/bin/chromium", X_OK) != 0)
    GTEST_SKIP() << "chromium is missing: status page not rendered";
  const char* shot = std::getenv("TOVALINK_STATUSPAGE_SCREENSHOT");
  const std::string url = "http://127.0.0.1:" + std::to_string(kMetricsPort) + "/";
  const std::vector<std::string> common = {"/usr/bin/chromium",
                                           "--headless",
                                           "--no-sandbox",
                                           "--disable-gpu",
                                           "--disable-background-networking",
                                           "--disable-component-update",
                                           "--disable-sync",
                                           "--no-first-run"};
  auto run = [&](const std::string& profile, std::vector<std::string> extra) {
    std::vector<std::string> args = common;
    args.push_back("--user-data-dir=" + site.home / profile);
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(url);
    auto browser =
        std::make_unique<Process>(args, std::vector<std::string>{"HOME=" + site.home.Path()});
    EXPECT_TRUE(browser->Wait(Scaled(60000))) << "chromium did not finish";
    return browser;
  };
  auto dump = run("profile-dom", {"--dump-dom"});
  const std::string dom = dump->Output();
  EXPECT_NE(dom.find("<tr class=\"delivered\" data-scale=\"1\"><td>1</td><td>delivered</td>"),
            std::string::npos)
      << dom;
  EXPECT_NE(dom.find("<tr class=\"failed\" data-scale=\"2\"><td>2</td><td>failed</td>"),
            std::string::npos)
      << dom;
  EXPECT_NE(dom.find("Exporting: not locked"), std::string::npos) << dom;
  EXPECT_NE(dom.find("http-equiv=\"refresh\""), std::string::npos) << dom;
  if (shot != nullptr && *shot != '\0') {
    auto picture =
        run("profile-shot", {std::string("--screenshot=") + shot, "--window-size=1200,800"});
    EXPECT_TRUE(platform::Env::Default()->FileExists(shot)) << picture->Output();
  }
}

TEST(MetricsListener, OffMeansNothingListensAndDeliveryGoesOn) {
  Site site;
  site.AddScale(91);
  site.SetString("MetricsAddress", "off");
  site.Start();
  site.Drop("goods.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(1, Scaled(30000))) << site.Output();
  EXPECT_EQ(Get("/metrics"), "");
  EXPECT_NE(site.Output().find("metrics and status page off (MetricsAddress)"), std::string::npos)
      << site.Output();
}

// A port someone else holds costs the view, never a delivery.
TEST(MetricsListener, APortTakenIsSaidOnceAndDeliveryGoesOn) {
  platform::TcpListener holder;
  ASSERT_TRUE(holder.Listen(kMetricsPort, 1, "127.0.0.1"));
  Site site;
  site.AddScale(91);
  site.SetString("MetricsAddress", "127.0.0.1:" + std::to_string(kMetricsPort));
  site.Start();
  site.Drop("goods.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(1, Scaled(30000))) << site.Output();
  EXPECT_EQ(site.Log()[0].code, 0);
  const std::string said =
      "metrics and status page: cannot listen on 127.0.0.1:" + std::to_string(kMetricsPort);
  EXPECT_NE(site.Output().find(said), std::string::npos) << site.Output();
  EXPECT_EQ(site.Output().find(said), site.Output().rfind(said));
}

}  // namespace
}  // namespace tv::test
