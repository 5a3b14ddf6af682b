// The listen addresses, RemoteAllow and the hourly refusal line.
#include "config/remoteaccess.h"

#include <gtest/gtest.h>

#include "logcapture.h"

namespace tv {
namespace {

using config::TListenAddress;
using config::TRemoteAllow;

TEST(ListenAddress, EmptyIsEverywhereOffIsOffAnythingButOneAddressIsRefused) {
  EXPECT_TRUE(config::ParseListenAddress("").value().Everywhere());
  EXPECT_TRUE(config::ParseListenAddress(" off ").value().off);
  const auto one = config::ParseListenAddress("192.168.0.5");
  ASSERT_TRUE(one.ok());
  EXPECT_FALSE(one->off);
  EXPECT_EQ(one->address, "192.168.0.5");
  for (const char* bad :
       {"localhost", "10.1", "192.168.0.256", "0x7f.0.0.1", "10.0.0.0/8", "OFF"}) {
    const auto parsed = config::ParseListenAddress(bad);
    ASSERT_FALSE(parsed.ok()) << bad;
    EXPECT_EQ(parsed.status().ToString(),
              "\"" + std::string(bad) + "\" is neither an IPv4 address nor off");
  }
}

TEST(RemoteAllow, AddressesAndBlocksAdmitTheirPeersOnly) {
  TRemoteAllow allow = TRemoteAllow::Parse("").value();
  EXPECT_TRUE(allow.Everyone());
  EXPECT_TRUE(allow.Allows("203.0.113.9"));

  const auto parsed = TRemoteAllow::Parse(" 192.168.0.10 ;10.1.200.7/16;;127.0.0.1/32");
  ASSERT_TRUE(parsed.ok()) << parsed.status().ToString();
  allow = parsed.value();
  EXPECT_EQ(allow.Describe(), "192.168.0.10; 10.1.0.0/16; 127.0.0.1");
  EXPECT_TRUE(allow.Allows("192.168.0.10"));
  EXPECT_FALSE(allow.Allows("192.168.0.11"));
  EXPECT_TRUE(allow.Allows("10.1.0.0"));
  EXPECT_TRUE(allow.Allows("10.1.255.255"));
  EXPECT_FALSE(allow.Allows("10.2.0.0"));
  EXPECT_FALSE(allow.Allows("127.0.0.2"));
  EXPECT_FALSE(allow.Allows("not an address"));

  allow = TRemoteAllow::Parse("0.0.0.0/0").value();
  EXPECT_FALSE(allow.Everyone());
  EXPECT_TRUE(allow.Allows("203.0.113.9")) << "a /0 block is every address, written on purpose";

  for (const char* bad :
       {"10.0.0.0/33", "10.0.0.0/", "10.0.0/8", "host.example", "10.0.0.1/-1", "10.0.0.1;x"}) {
    EXPECT_FALSE(TRemoteAllow::Parse(bad).ok()) << bad;
  }
  EXPECT_EQ(TRemoteAllow::Parse("10.0.0.1;x").status().ToString(),
            "\"x\" is neither an IPv4 address nor a CIDR block such as 192.168.0.0/24");
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
