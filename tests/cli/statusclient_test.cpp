#include "cli/statusclient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/status_test_util.h"
#include "engine/statusserver.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/instancelock.h"
#include "platform/net.h"
#include "platform/registry.h"
#include "testutil.h"

namespace tv {
namespace {

using status_test::WriteResult;
using status_test::WriteTable;

struct CommandResult {
  int code = 0;
  std::string out;
  std::string err;
};

CommandResult RunStatus(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  CommandResult r;
  r.code = RunStatusCommand(static_cast<int>(argv.size()), argv.data(), out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

// A service's state home with its store, serving status on `port`.
class StatusClientTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("TOVALINK_HOME", home_.Path().c_str(), 1); }

  void StartServer(uint16_t port = kStatusPort) {
    // As the service does, so that the client knows it runs on this store.
    long holder = 0;
    ASSERT_TRUE(instance_.Acquire(home_.Path(), holder).ok());
    store_ = std::make_unique<platform::GuardedRegistry>(platform::Registry::DefaultPath());
    WriteTable(*store_, kDevicesKey, {91, 7, 12, 40});
    WriteResult(*store_, 91, true);
    WriteResult(*store_, 7, false);
    server_ = std::make_unique<TStatusServer>(*store_, flags_, port);
    ASSERT_TRUE(server_->Activate());
  }

  void SetAddressPrefix(const std::string& prefix) {
    auto reg = store_->Lock();
    platform::RegistryKey product = reg->Open(kProductKey, true);
    ASSERT_TRUE(product);
    product.WriteString("IPAdress", prefix);
  }

  status_test::TempDir home_;
  platform::InstanceLock instance_;
  std::shared_ptr<TEngineFlags> flags_ = std::make_shared<TEngineFlags>();
  std::unique_ptr<platform::GuardedRegistry> store_;
  std::unique_ptr<TStatusServer> server_;
};

TEST_F(StatusClientTest, PrintsATableWithAddressesFromTheLocalStore) {
  StartServer();
  SetAddressPrefix("10.1.2.");
  CommandResult r = RunStatus({});
  EXPECT_EQ(r.code, kStatusSomeFailed) << r.err;
  EXPECT_EQ(r.err, "store " + platform::Registry::DefaultPath() + "\n")
      << "the local columns' store is named";
  // The local store names no log and no export directory: the history
  // columns stay empty.
  EXPECT_EQ(r.out,
            "Scale  Address          State        Last attempt  Last code  Last success  Parked\n"
            "91     10.1.2.91        delivered    -             -          -             -\n"
            "7      10.1.2.7         failed       -             -          -             -\n"
            "12     10.1.2.12        unknown      -             -          -             -\n"
            "40     10.1.2.40        unknown      -             -          -             -\n"
            "Exporting: not locked\n");

  flags_->CycleRunning = true;
  r = RunStatus({"127.0.0.1"});
  EXPECT_EQ(r.code, 0) << "no scale is failed while a cycle runs: " << r.err;
  EXPECT_NE(r.out.find("91     10.1.2.91        in progress  "), std::string::npos) << r.out;
}

TEST_F(StatusClientTest, PrintsJsonForScripts) {
  StartServer(3158);
  SetAddressPrefix("10.1.2.");
  {
    // A result code outside the four states comes through as a number.
    WriteResult(*store_, 12, true);
    auto reg = store_->Lock();
    platform::RegistryKey results = reg->Open(kDeviceResultsKey, false);
    ASSERT_TRUE(results);
    results.WriteInteger("12", 9);
  }
  CommandResult r = RunStatus({"--json", "127.0.0.1", "--port", "3158"});
  EXPECT_EQ(r.code, kStatusSomeFailed) << r.err;
  const std::string none =
      ", \"last_code\": null, \"last_code_meaning\": null, \"last_attempt\": null, \"last_success\": null, "
      "\"parked_files\": 0, \"oldest_parked_age_s\": null}";
  EXPECT_EQ(r.out,
            "{\"scales\": [\n"
            " {\"scale\": 91, \"address\": \"10.1.2.91\", \"state\": \"delivered\", \"delivered\": true" + none + ",\n"
            " {\"scale\": 7, \"address\": \"10.1.2.7\", \"state\": \"failed\", \"delivered\": false" + none + ",\n"
            " {\"scale\": 12, \"address\": \"10.1.2.12\", \"state\": \"code 9\", \"delivered\": null" + none + ",\n"
            " {\"scale\": 40, \"address\": \"10.1.2.40\", \"state\": \"unknown\", \"delivered\": null" + none + "\n"
            "],\n \"files_waiting\": null,\n \"exports_locked\": false, \"exports_locked_for_s\": null}\n");
}

TEST_F(StatusClientTest, WithoutALocalStoreAddressesAreUnknownAndNoStoreIsCreated) {
  // The service's store lives elsewhere; this user's home has none.
  status_test::TempDir serviceHome;
  platform::GuardedRegistry store(serviceHome.Path() + "/registry.db");
  WriteTable(store, kDevicesKey, {91});
  WriteResult(store, 91, true);
  TStatusServer server(store, flags_);
  ASSERT_TRUE(server.Activate());

  CommandResult r = RunStatus({"--json"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"scales\": [\n {\"scale\": 91, \"address\": null, \"state\": \"delivered\", \"delivered\": true}\n],\n"
            " \"files_waiting\": null}\n");
  r = RunStatus({});
  EXPECT_EQ(r.out, "Scale  Address          State\n91     -                delivered\n");
  EXPECT_FALSE(platform::Env::Default()->FileExists(platform::Registry::DefaultPath()));
}

TEST_F(StatusClientTest, AddsEachScalesHistoryParkedFilesAndWaitingFilesFromThisMachine) {
  StartServer();
  SetAddressPrefix("10.1.2.");
  {
    auto reg = store_->Lock();
    platform::RegistryKey product = reg->Open(kProductKey, false);
    ASSERT_TRUE(product);
    product.WriteString("ExportDir", home_.Path() + "/export");
    product.WriteString("LogoDir", home_.Path() + "/log");
    product.WriteString("FileMask", "*.*");
  }
  // Keyboard uploads count too; a line without an address names no scale;
  // a date format with a comma keeps its comma.
  test::WriteFile(home_.Path() + "/log/sclogo.csv",
                         "07.12.2026,10:00:01,10.1.2.7,0,a.txt\r\n"
                         "07.12.2026,10:00:02,10.1.2.91,0,a.txt\r\n"
                         "07.12.2026,11:00:01,10.1.2.7,2,b.txt\r\n"
                         "07.12.2026,11:00:03,,6,broken.txt\r\n"
                         "07.12.2026,11:00:05,10.1.2.7,15,keys.xml\r\n"
                         "Mon, 07.12.2026,11:00:06,10.1.2.12,3,c.txt\r\n");
  const std::string unsent = home_.Path() + "/export/Unsent/";
  test::WriteFile(unsent + "{6F9619FF-8B86-D011-B42D-00C04FC964FF}b007.txt", "T1\r\n");
  test::WriteFile(unsent + "{7F9619FF-8B86-D011-B42D-00C04FC964FF}keys007.xml", "<x/>");
  ASSERT_TRUE(
      platform::Env::Default()
          ->SetLastWriteTime(unsent + "{6F9619FF-8B86-D011-B42D-00C04FC964FF}b007.txt",
                             std::chrono::system_clock::from_time_t(std::time(nullptr) - 7200))
          .ok());
  test::WriteFile(home_.Path() + "/export/new1.txt", "T1\r\n");
  test::WriteFile(home_.Path() + "/export/new2.txt", "T1\r\n");

  CommandResult r = RunStatus({});
  EXPECT_EQ(r.code, kStatusSomeFailed) << r.err;
  EXPECT_NE(r.out.find("7      10.1.2.7         failed       07.12.2026 11:00:05       "
                       "15 keyboard upload: connection failed  07.12.2026 10:00:01  2, oldest 2h 00m\n"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("12     10.1.2.12        unknown      Mon, 07.12.2026 11:00:06  3 scale refused a frame"
                       "                never                -\n"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Files waiting in the export directory: 2\n"), std::string::npos) << r.out;

  r = RunStatus({"--json"});
  EXPECT_NE(r.out.find("{\"scale\": 7, \"address\": \"10.1.2.7\", \"state\": \"failed\", \"delivered\": false, "
                       "\"last_code\": 15, \"last_code_meaning\": \"keyboard upload: connection failed\", "
                       "\"last_attempt\": \"07.12.2026 11:00:05\", \"last_success\": \"07.12.2026 10:00:01\", "
                       "\"parked_files\": 2, \"oldest_parked_age_s\": 7"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"last_code\": 0, \"last_code_meaning\": \"delivered\", \"last_attempt\": \"07.12.2026 "
                       "10:00:02\", \"last_success\": \"07.12.2026 10:00:02\", \"parked_files\": 0"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"files_waiting\": 2,"), std::string::npos) << r.out;

  // The mark the service keeps beside its store while exporting is locked.
  test::WriteFile(home_.Path() + "/exports.locked", "");
  ASSERT_TRUE(
      platform::Env::Default()
          ->SetLastWriteTime(home_.Path() + "/exports.locked",
                             std::chrono::system_clock::from_time_t(std::time(nullptr) - 90))
          .ok());
  r = RunStatus({"--json"});
  EXPECT_NE(r.out.find("\"exports_locked\": true, \"exports_locked_for_s\": 9"), std::string::npos) << r.out;
  r = RunStatus({});
  EXPECT_NE(r.out.find("Exporting: locked since "), std::string::npos) << r.out;
}

TEST_F(StatusClientTest, FailsWhenNothingAnswers) {
  CommandResult r = RunStatus({});
  EXPECT_EQ(r.code, cli::kExitNoAnswer) << "not 3, which says a scale failed";
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("cannot connect to 127.0.0.1:3058"), std::string::npos) << r.err;

  // A peer that cuts the reply short.
  platform::TcpListener fake;
  ASSERT_TRUE(fake.Listen(kStatusPort, 4, "127.0.0.1"));
  std::thread peer([&fake] {
    platform::TcpSocket s = fake.Accept();
    uint8_t request = 0;
    s.SetRecvTimeout(3000);
    if (!s.RecvByte(request)) return;
    const uint8_t partial[] = {2, 91, 7};
    s.SendAll(partial, sizeof partial);
  });
  r = RunStatus({});
  peer.join();
  EXPECT_EQ(r.code, cli::kExitNoAnswer);
  EXPECT_NE(r.err.find("short reply"), std::string::npos) << r.err;
}

TEST_F(StatusClientTest, RejectsBadArguments) {
  EXPECT_EQ(RunStatus({"--port"}).code, 2);
  EXPECT_EQ(RunStatus({"--port", "70000"}).code, 2);
  EXPECT_EQ(RunStatus({"--port", "12x"}).code, 2);
  EXPECT_EQ(RunStatus({"--verbose"}).code, 2);
  EXPECT_EQ(RunStatus({"127.0.0.1", "127.0.0.2"}).code, 2);
}

}  // namespace
}  // namespace tv
