// The listen addresses, RemoteAllow and the hourly refusal line.
#include "config/remoteaccess.h"

#include <gtest/gtest.h>

#include "logcapture.h"

namespace tv {
namespace {

using config::TListenAddress;
using config::TRemoteAllow;

TEST(ListenAddress, EmptyIsEverywhereOffIsOffAnythingButOneAddressIsRefused) {
  TListenAddress a;
  std::string error;
  ASSERT_TRUE(config::ParseListenAddress("", a, error));
  EXPECT_TRUE(a.Everywhere());
  ASSERT_TRUE(config::ParseListenAddress(" off ", a, error));
  EXPECT_TRUE(a.off);
  ASSERT_TRUE(config::ParseListenAddress("192.168.0.5", a, error));
  EXPECT_FALSE(a.off);
  EXPECT_EQ(a.address, "192.168.0.5");
  for (const char* bad :
       {"localhost", "10.1", "192.168.0.256", "0x7f.0.0.1", "10.0.0.0/8", "OFF"}) {
    EXPECT_FALSE(config::ParseListenAddress(bad, a, error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
}

TEST(RemoteAllow, AddressesAndBlocksAdmitTheirPeersOnly) {
  TRemoteAllow allow;
  std::string error;
  ASSERT_TRUE(TRemoteAllow::Parse("", allow, error));
  EXPECT_TRUE(allow.Everyone());
  EXPECT_TRUE(allow.Allows("203.0.113.9"));

  ASSERT_TRUE(TRemoteAllow::Parse(" 192.168.0.10 ;10.1.200.7/16;;127.0.0.1/32", allow, error))
      << error;
  EXPECT_EQ(allow.Describe(), "192.168.0.10; 10.1.0.0/16; 127.0.0.1");
  EXPECT_TRUE(allow.Allows("192.168.0.10"));
  EXPECT_FALSE(allow.Allows("192.168.0.11"));
  EXPECT_TRUE(allow.Allows("10.1.0.0"));
  EXPECT_TRUE(allow.Allows("10.1.255.255"));
  EXPECT_FALSE(allow.Allows("10.2.0.0"));
  EXPECT_FALSE(allow.Allows("127.0.0.2"));
  EXPECT_FALSE(allow.Allows("not an address"));

  ASSERT_TRUE(TRemoteAllow::Parse("0.0.0.0/0", allow, error));
  EXPECT_FALSE(allow.Everyone());
  EXPECT_TRUE(allow.Allows("203.0.113.9")) << "a /0 block is every address, written on purpose";

  for (const char* bad :
       {"10.0.0.0/33", "10.0.0.0/", "10.0.0/8", "host.example", "10.0.0.1/-1", "10.0.0.1;x"}) {
    EXPECT_FALSE(TRemoteAllow::Parse(bad, allow, error)) << bad;
    EXPECT_TRUE(allow.Everyone()) << "a refused list keeps nothing: " << bad;
  }
}

TEST(RefusalLog, OneLinePerPeerAndHour) {
  test::LogCapture log;
  uint32_t now = 1000;
  config::TRefusalLog refusals([&] { return now; });
  EXPECT_TRUE(refusals.Refused("10.0.0.1", "port 3057"));
  EXPECT_FALSE(refusals.Refused("10.0.0.1", "port 3058"));
  EXPECT_TRUE(refusals.Refused("10.0.0.2", "port 3057"));
  now += config::TRefusalLog::kQuietMs - 1;
  EXPECT_FALSE(refusals.Refused("10.0.0.1", "port 3057"));
  now += 1;
  EXPECT_TRUE(refusals.Refused("10.0.0.1", "port 3057"));
  EXPECT_EQ(log.Count(platform::LogLevel::Notice, {"10.0.0.1", "refused", "RemoteAllow"}), 2u);
  EXPECT_EQ(log.Count(platform::LogLevel::Notice, {"10.0.0.2"}), 1u);
}

}  // namespace
}  // namespace tv
