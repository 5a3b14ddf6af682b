#include "platform/icmp.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace tv::platform {
namespace {

// True when this process was given a network namespace of its own (by
// scripts/netns-run), so changing a net.ipv4 setting cannot touch the host.
// Inside a user namespace the parent's namespace cannot even be looked at;
// such a process can only change settings of a namespace it owns.
bool InPrivateNetNamespace() {
  struct stat self {}, parent {};
  std::string parentNs = "/proc/" + std::to_string(getppid()) + "/ns/net";
  if (stat("/proc/self/ns/net", &self) != 0) return false;
  if (stat(parentNs.c_str(), &parent) != 0) return errno == EACCES && geteuid() == 0;
  return self.st_ino != parent.st_ino;
}

class ScopedSysctl {
 public:
  ScopedSysctl(std::string path, const std::string& value) : path_(std::move(path)) {
    std::ifstream in(path_);
    std::getline(in, old_);
    ok_ = Write(value);
  }
  ~ScopedSysctl() {
    if (ok_) Write(old_);
  }
  bool ok() const { return ok_; }

 private:
  bool Write(const std::string& v) {
    std::ofstream out(path_);
    out << v << "\n";
    out.flush();
    return static_cast<bool>(out);
  }
  std::string path_, old_;
  bool ok_ = false;
};

TEST(IcmpEcho, LoopbackHostRepliesWithItsOwnAddress) {
  std::string from = "stale";
  EchoOutcome r = IcmpEcho("127.0.0.5", 11, 2000, from);
  if (r == EchoOutcome::Unavailable) GTEST_SKIP() << "no ICMP socket permitted";
  EXPECT_EQ(r, EchoOutcome::Reply);
  EXPECT_EQ(from, "127.0.0.5");
  // A second probe uses a fresh sequence and still matches its own reply.
  EXPECT_EQ(IcmpEcho("127.0.0.9", 0, 2000, from), EchoOutcome::Reply);
  EXPECT_EQ(from, "127.0.0.9");
}

TEST(IcmpEcho, SilentHostGivesNoReplyAfterTheTimeOut) {
  if (!InPrivateNetNamespace()) GTEST_SKIP() << "needs a network namespace of its own";
  ScopedSysctl ignore("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1");
  ASSERT_TRUE(ignore.ok());
  std::string from = "stale";
  auto start = std::chrono::steady_clock::now();
  EchoOutcome r = IcmpEcho("127.0.0.5", 11, 300, from);
  auto took = std::chrono::steady_clock::now() - start;
  if (r == EchoOutcome::Unavailable) GTEST_SKIP() << "no ICMP socket permitted";
  EXPECT_EQ(r, EchoOutcome::NoReply);
  EXPECT_TRUE(from.empty());
  // The raw socket sees its own request on loopback; that must not end the wait.
  EXPECT_GE(took, std::chrono::milliseconds(290));
}

// With ping_group_range open to group 0 the unprivileged datagram socket is
// used; the kernel picks its identifier, so only the sequence can match.
// Group 0 alone, since a user namespace maps no other group.
TEST(IcmpEcho, DatagramPingSocketMatchesItsReply) {
  if (!InPrivateNetNamespace()) GTEST_SKIP() << "needs a network namespace of its own";
  ScopedSysctl allow("/proc/sys/net/ipv4/ping_group_range", "0 0");
  ASSERT_TRUE(allow.ok());
  std::string from;
  EXPECT_EQ(IcmpEcho("127.0.0.7", 11, 2000, from), EchoOutcome::Reply);
  EXPECT_EQ(from, "127.0.0.7");
  ScopedSysctl ignore("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1");
  ASSERT_TRUE(ignore.ok());
  EXPECT_EQ(IcmpEcho("127.0.0.7", 11, 200, from), EchoOutcome::NoReply);
}

// Drops CAP_NET_RAW from the calling thread's effective set only.
bool DropNetRawForThisThread() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[CAP_NET_RAW / 32].effective &= ~(1u << (CAP_NET_RAW % 32));
  return syscall(SYS_capset, &header, data) == 0;
}

// Every scale of every cycle probes: the kind of socket that was refused is
// not asked for again, and the other kind takes over when the remembered
// one stops working.
TEST(IcmpEcho, RemembersWhichSocketKindWorks) {
  if (!InPrivateNetNamespace()) GTEST_SKIP() << "needs a network namespace of its own";
  std::string from;
  {
    ScopedSysctl closed("/proc/sys/net/ipv4/ping_group_range", "1 0");
    ASSERT_TRUE(closed.ok());
    ASSERT_EQ(IcmpEcho("127.0.0.3", 11, 2000, from), EchoOutcome::Reply);
    EXPECT_TRUE(IcmpPrefersRawSocket());
  }
  ScopedSysctl open("/proc/sys/net/ipv4/ping_group_range", "0 0");
  ASSERT_TRUE(open.ok());
  EXPECT_EQ(IcmpEcho("127.0.0.3", 11, 2000, from), EchoOutcome::Reply);
  EXPECT_TRUE(IcmpPrefersRawSocket());

  EchoOutcome withoutRaw = EchoOutcome::Unavailable;
  bool dropped = false;
  std::thread([&] {
    dropped = DropNetRawForThisThread();
    if (dropped) withoutRaw = IcmpEcho("127.0.0.4", 11, 2000, from);
  }).join();
  ASSERT_TRUE(dropped);
  EXPECT_EQ(withoutRaw, EchoOutcome::Reply);
  EXPECT_EQ(from, "127.0.0.4");
  EXPECT_FALSE(IcmpPrefersRawSocket());
}

TEST(IcmpEcho, UnparsableAddressIsNoReply) {
  std::string from;
  EchoOutcome r = IcmpEcho("not.an.address", 11, 200, from);
  if (r == EchoOutcome::Unavailable) GTEST_SKIP() << "no ICMP socket permitted";
  EXPECT_EQ(r, EchoOutcome::NoReply);
}

}  // namespace
}  // namespace tv::platform
