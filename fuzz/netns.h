// The session targets open real sockets; each process first moves into a
// network namespace of its own with only loopback up, so it can reach
// nothing but 127.0.0.0/8 and its fixed ports collide with nobody.
#pragma once

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tv::fuzz {

inline void EnterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0) {
    std::perror("unshare(CLONE_NEWNET) (run through scripts/netns-run when not root)");
    std::exit(1);
  }
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq ifr{};
  std::strcpy(ifr.ifr_name, "lo");
  if (s < 0 || ioctl(s, SIOCGIFFLAGS, &ifr) != 0 ||
      (ifr.ifr_flags |= IFF_UP, ioctl(s, SIOCSIFFLAGS, &ifr)) != 0) {
    std::perror("bringing loopback up");
    std::exit(1);
  }
  close(s);
}

}  // namespace tv::fuzz
