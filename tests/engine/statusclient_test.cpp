#include "engine/statusclient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/status_test_util.h"
#include "engine/statusserver.h"
#include "platform/fs.h"
#include "platform/net.h"
#include "platform/registry.h"

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
  std::shared_ptr<TEngineFlags> flags_ = std::make_shared<TEngineFlags>();
  std::unique_ptr<platform::GuardedRegistry> store_;
  std::unique_ptr<TStatusServer> server_;
};

TEST_F(StatusClientTest, PrintsATableWithAddressesFromTheLocalStore) {
  StartServer();
  SetAddressPrefix("10.1.2.");
  CommandResult r = RunStatus({});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Scale  Address          State\n"
            "91     10.1.2.91        delivered\n"
            "7      10.1.2.7         failed\n"
            "12     10.1.2.12        unknown\n"
            "40     10.1.2.40        unknown\n");

  flags_->CycleRunning = true;
  r = RunStatus({"127.0.0.1"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("91     10.1.2.91        in progress\n"), std::string::npos) << r.out;
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
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "[\n"
            " {\"scale\": 91, \"address\": \"10.1.2.91\", \"state\": \"delivered\", \"code\": 1},\n"
            " {\"scale\": 7, \"address\": \"10.1.2.7\", \"state\": \"failed\", \"code\": 0},\n"
            " {\"scale\": 12, \"address\": \"10.1.2.12\", \"state\": \"code 9\", \"code\": 9},\n"
            " {\"scale\": 40, \"address\": \"10.1.2.40\", \"state\": \"unknown\", \"code\": 3}\n"
            "]\n");
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
  EXPECT_EQ(r.out, "[\n {\"scale\": 91, \"address\": null, \"state\": \"delivered\", \"code\": 1}\n]\n");
  r = RunStatus({});
  EXPECT_EQ(r.out, "Scale  Address          State\n91     -                delivered\n");
  EXPECT_FALSE(platform::FileExists(platform::Registry::DefaultPath()));
}

TEST_F(StatusClientTest, FailsWhenNothingAnswers) {
  CommandResult r = RunStatus({});
  EXPECT_EQ(r.code, 1);
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
  EXPECT_EQ(r.code, 1);
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
