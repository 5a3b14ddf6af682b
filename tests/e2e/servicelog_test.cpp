// What an operator sees of a running service: the lines on standard error
// (the journal under systemd) and the STATUS lines sent to the notify socket
// (what `systemctl status` shows), read from the real binary.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <regex>

#include "site.h"

namespace tv::test {
namespace {

// Plays systemd's end of NOTIFY_SOCKET: a unix datagram socket whose
// messages the test collects.
class FakeNotifySocket {
 public:
  explicit FakeNotifySocket(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~FakeNotifySocket() { close(fd_); }
  bool Bound() const { return bound_; }
  std::string Env() const { return "NOTIFY_SOCKET=" + path_; }

  // Waits for a message holding `needle`; every message read is kept.
  bool WaitFor(const std::string& needle, int timeoutMs) {
    return WaitUntil(
        [&] {
          Drain();
          for (const std::string& m : messages) if (m.find(needle) != std::string::npos) return true;
          return false;
        },
        timeoutMs);
  }
  std::vector<std::string> messages;

 private:
  void Drain() {
    char buf[4096];
    for (;;) {
      ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) return;
      messages.emplace_back(buf, static_cast<size_t>(n));
    }
  }
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

bool Has(const std::string& text, const std::string& needle) { return text.find(needle) != std::string::npos; }

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

TEST(ServiceLog, StartDeliveriesCycleAndStopAreLoggedAndNotified) {
  Site site;
  site.SetScales({3, 8});
  site.SetString("ListSeparator", ";");
  site.AddScale(3);
  sim::Behaviour refusing;
  refusing.deleteAnswer = 0x15;
  site.AddScale(8, refusing);
  FakeNotifySocket notify(site.home / "notify.sock");
  ASSERT_TRUE(notify.Bound());
  site.Start({notify.Env()});
  ASSERT_TRUE(notify.WaitFor("READY=1", 10000));
  EXPECT_TRUE(notify.WaitFor("STATUS=no export cycle yet; watching " + site.exportDir, 5000));

  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(2));
  ASSERT_TRUE(notify.WaitFor("STATUS=last cycle", 10000));
  // The summary counts what the delivery log holds: scale 3 delivered,
  // scale 8 refused and got a parked copy.
  std::regex status(R"(STATUS=last cycle \d\d:\d\d: 1 file, 1 of 2 scales delivered, 1 file parked)");
  bool matched = false;
  for (const std::string& m : notify.messages) matched = matched || std::regex_search(m, status);
  EXPECT_TRUE(matched) << ::testing::PrintToString(notify.messages);
  EXPECT_EQ(site.Unsent().size(), 1u);

  ASSERT_EQ(site.Stop(), 0);
  EXPECT_TRUE(notify.WaitFor("STOPPING=1", 5000));
  const std::string& out = site.output;
  // Start: version, directories, where each separator comes from, the log's
  // date format, the scale count.
  EXPECT_TRUE(Has(out, "Tovalink 2.43 starting; state directory " + site.home.Path())) << out;
  EXPECT_TRUE(Has(out, "ExportDir " + site.exportDir + ", Unsent " + site.exportDir + "/Unsent, LogoDir " +
                           site.logDir)) << out;
  EXPECT_TRUE(Has(out, "list separator ';' (stored ListSeparator; files are split at the locale's ','), "
                       "decimal separator '.' (locale C)")) << out;
  EXPECT_TRUE(Has(out, "delivery log dates \"%m/%d/%y\", times \"%H:%M:%S\" (locale C)")) << out;
  EXPECT_TRUE(Has(out, "2 scales in the scale list, VerInterval 1 s")) << out;
  // One line per attempt, a warning for the failure with its meaning.
  EXPECT_TRUE(Has(out, "tovalink: scale 3 (127.0.0.3): prices.txt: code 0, delivered\n")) << out;
  // The failure names its cause: the frame and the answer.
  EXPECT_TRUE(
      Has(out,
          "tovalink: warning: scale 8 (127.0.0.8): prices.txt: code 3, scale refused a frame: "
          "answer 0x15 to the deletion of goods 777; the scale is down"))
      << out;
  EXPECT_TRUE(Has(out, "export cycle: 1 file, 2 scales: 1 delivered, 1 failed, 1 file parked, ")) << out;
  // A retry of the parked copy may be running: "stopping" or "stopping: waiting ...".
  EXPECT_TRUE(Has(out, "tovalink: stopping")) << out;
  EXPECT_TRUE(Has(out, "tovalink: stopped\n")) << out;
}

// `systemctl reload` (SIGHUP) returns once the service says READY=1 again.
TEST(ServiceLog, AReloadIsReportedToSystemdFromTheSignalUntilTheNewSettingsAreInForce) {
  Site site;
  site.AddScale(91);
  FakeNotifySocket notify(site.home / "notify.sock");
  ASSERT_TRUE(notify.Bound());
  site.Start({notify.Env()});
  ASSERT_TRUE(notify.WaitFor("READY=1", 10000));
  notify.messages.clear();
  site.SetValue("VerInterval", 2);
  site.service->Signal(SIGHUP);
  ASSERT_TRUE(notify.WaitFor("READY=1", Scaled(10000)))
      << ::testing::PrintToString(notify.messages);
  EXPECT_TRUE(Has(notify.messages[0], "RELOADING=1\nMONOTONIC_USEC="))
      << ::testing::PrintToString(notify.messages);
  EXPECT_TRUE(WaitUntil([&] { return Has(site.Output(), "settings reloaded"); }, 5000))
      << site.Output();
  EXPECT_EQ(site.Stop(), 0);
}

// An operator shortens VerInterval and reloads: the next file must not wait
// out the hour the service started with.
TEST(ServiceLog, AReloadAppliesAChangedVerInterval) {
  Site site;
  site.AddScale(4);
  site.SetScales({4});
  site.SetValue("VerInterval", 3600);
  site.Start();
  ASSERT_TRUE(WaitUntil([&] { return Has(site.Output(), "VerInterval 3600 s"); }, 10000))
      << site.Output();
  site.SetValue("VerInterval", 1);
  site.service->Signal(SIGHUP);
  // The line names what changed, so the operator sees the edit was taken.
  ASSERT_TRUE(WaitUntil([&] { return Has(site.Output(), "settings reloaded: VerInterval 3600 -> 1\n"); },
                        Scaled(10000)))
      << site.Output();
  site.Drop("prices.txt", GoodsFile());
  EXPECT_TRUE(site.Scale(4).WaitForFrames(1, Scaled(10000))) << site.Output();
  EXPECT_EQ(site.Stop(), 0);
}

// A file still in its quiet period starts cycles that take nothing: the
// STATUS line keeps what it said.
TEST(ServiceLog, ACycleThatTakesNothingLeavesTheStatusLineAlone) {
  Site site;
  site.SetScales({1});
  site.quietMs = std::to_string(Scaled(600000));
  FakeNotifySocket notify(site.home / "notify.sock");
  ASSERT_TRUE(notify.Bound());
  site.Start({notify.Env(), "TOVALINK_LOG_LEVEL=debug"});
  ASSERT_TRUE(notify.WaitFor("STATUS=no export cycle yet", 10000));
  const auto held = site.WriteKeptOpen("prices.txt", GoodsFile());
  ASSERT_TRUE(
      WaitUntil([&] { return Count(site.service->Output(), "export cycle: 0 files") >= 3; }, 20000))
      << site.service->Output();
  EXPECT_FALSE(notify.WaitFor("STATUS=last cycle", 0)) << ::testing::PrintToString(notify.messages);
  ASSERT_EQ(site.Stop(), 0);
}

TEST(ServiceLog, FailedRetriesOfParkedCopiesAreLoggedThoughTheCsvLogLeavesThemOut) {
  Site site;
  site.SetScales({5});
  // No scale listens at 127.0.0.5: every attempt fails.
  site.Drop("prices.txt", GoodsFile());
  // Retries of a scale already down are debug lines: the operator heard once.
  site.Start({"TOVALINK_LOG_LEVEL=debug"});
  ASSERT_TRUE(site.WaitForLog(1));
  ASSERT_TRUE(WaitUntil([&] { return Has(site.service->Output(), "(parked copy): code 2"); }, 20000))
      << site.service->Output();
  ASSERT_EQ(site.Stop(), 0);
  EXPECT_EQ(site.Log().size(), 1u) << "the CSV log still holds only the first attempt";
  EXPECT_TRUE(Has(site.output, "warning: scale 5 (127.0.0.5): prices.txt: code 2, scale not reachable")) << site.output;
  std::regex retry(
      R"(debug: scale 5 \(127\.0\.0\.5\): \{[0-9A-F-]+\}prices005\.txt \(parked copy\): code 2)");
  EXPECT_TRUE(std::regex_search(site.output, retry)) << site.output;
}

TEST(ServiceLog, StopDuringACycleSaysWhatItWaitsFor) {
  Site site;
  site.SetScales({4});
  sim::Behaviour slow;
  slow.delayMs = 1500;
  site.AddScale(4, slow);
  FakeNotifySocket notify(site.home / "notify.sock");
  ASSERT_TRUE(notify.Bound());
  site.Start({notify.Env()});
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.Scale(4).WaitForFrames(1, 15000));
  ASSERT_EQ(site.Stop(), 0);
  EXPECT_TRUE(Has(site.output, "stopping: waiting for the export cycle: prices.txt to scale 4")) << site.output;
  EXPECT_TRUE(notify.WaitFor("STATUS=stopping: waiting for the export cycle: prices.txt to scale 4", 5000))
      << ::testing::PrintToString(notify.messages);
  // The cycle was finished, not cut short.
  EXPECT_EQ(site.Log().size(), 1u);
}

TEST(ServiceLog, ADirectoryThatCannotBeMadeIsAnErrorNamingIt) {
  Site site;
  site.SetScales({});
  // A regular file where a parent directory should be.
  WriteFile(site.home / "blocker", "x");
  site.SetString("LogoDir", site.home / "blocker/log");
  site.Start();
  // The delivery log could never be written: the service does not start.
  ASSERT_TRUE(site.service->Wait(10000)) << site.service->Output();
  EXPECT_NE(site.service->ExitCode(), 0);
  site.output = site.service->Output();
  EXPECT_TRUE(Has(site.output, "tovalink: error: directory " + site.home / "blocker/log" + " (from " +
                                   site.home / "blocker/log" + ") cannot be made: ")) << site.output;
  EXPECT_TRUE(Has(site.output,
                  "directory " + site.home / "blocker/log" + " is not writable for the service"))
      << site.output;
}

TEST(ServiceLog, AParkedCopyThatCannotBeWrittenIsAnError) {
  Site site;
  site.SetScales({6});
  site.Start();
  // A regular file where the Unsent folder belongs, put there after the
  // start proved the folder writable; no scale listens.
  ASSERT_TRUE(WaitUntil([&] { return Has(site.service->Output(), "scale list"); }, 10000));
  ASSERT_EQ(::rmdir((site.exportDir + "/Unsent").c_str()), 0);
  WriteFile(site.exportDir + "/Unsent", "x");
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(1));
  ASSERT_TRUE(WaitUntil([&] { return Has(site.service->Output(), "export cycle:"); }, 10000));
  ASSERT_EQ(site.Stop(), 0);
  EXPECT_TRUE(Has(site.output, "error: " + site.exportDir + "/prices.txt not parked for 127.0.0.6: "))
      << site.output;
}

TEST(ServiceLog, LinesTheReaderLeavesOutAreCountedWithTheFirstOnesReason) {
  Site site;
  site.SetScales({9});
  site.AddScale(9);
  site.Start();
  // Line 2 is one character short of the fixed layout; line 4 has no code
  // the reader knows.
  std::string file = GoodsFile();
  const size_t a = file.find("\r\nA") + 2;
  const size_t end = file.find("\r\n", a);
  std::string shortA = file.substr(a, end - a - 1);
  site.Drop("prices.txt", "D000777\r\n" + shortA + "\r\nT202403050907\r\nX1\r\n\r\n");
  ASSERT_TRUE(site.WaitForLog(1));
  site.Drop("clean.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(2));
  ASSERT_EQ(site.Stop(), 0);
  EXPECT_TRUE(Has(site.output, "tovalink: warning: prices.txt: 4 lines read, 2 skipped; first skipped: line 2, A line "
                               "of 132 characters, the fixed layout needs 133\n")) << site.output;
  EXPECT_TRUE(Has(site.output, "tovalink: clean.txt: 3 lines read\n")) << site.output;
  // The first file's only A line cannot be read, so none of its lines
  // reached the scale (its deletion alone would have emptied it).
  EXPECT_EQ(site.Scale(9).Frames().size(), 3u);
  EXPECT_EQ(site.Rejected(), std::vector<std::string>{"prices.txt"});
}

TEST(ServiceLog, ALinesTheEncoderLeavesOutAreCountedToo) {
  Site site;
  site.SetScales({9});
  site.AddScale(9);
  site.Start();
  // Line 3 passes the reader (it has the fixed length), but its goods code
  // 0 names no goods, so the encoder leaves it out.
  std::string good = GoodsFile(123);
  std::string zero = GoodsFile(0);
  const std::string aGood = good.substr(good.find("\r\nA") + 2, good.find("\r\nT") - good.find("\r\nA") - 2);
  const std::string aZero = zero.substr(zero.find("\r\nA") + 2, zero.find("\r\nT") - zero.find("\r\nA") - 2);
  site.Drop("prices.txt", "D000777\r\n" + aGood + "\r\n" + aZero + "\r\nT202403050907\r\n");
  ASSERT_TRUE(site.WaitForLog(1));
  ASSERT_EQ(site.Stop(), 0);
  EXPECT_TRUE(Has(site.output, "tovalink: warning: prices.txt: 4 lines read, 1 skipped; first skipped: line 3, A line "
                               "whose fields cannot be read: the goods number (characters 13 to 27)")) << site.output;
  // The delete, the good goods line and the clock reached the scale.
  EXPECT_EQ(site.Scale(9).Frames().size(), 3u);
}

}  // namespace
}  // namespace tv::test
