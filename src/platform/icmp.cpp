#include "platform/icmp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/net.h"

namespace tv::platform {
namespace {

constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kEchoRequest = 8;
constexpr size_t kIcmpHeader = 8;
// Bounds the payload so the request always fits one datagram.
constexpr size_t kMaxPayload = 1024;

std::atomic<uint16_t> nextSequence{1};

struct Socket {
  int fd = -1;
  bool raw = false;  // raw sockets deliver the IP header and every ICMP message
  ~Socket() {
    if (fd >= 0) close(fd);
  }
};

// Which kind of ICMP socket the process was last able to open.  Every scale
// of every cycle probes, and a refused kind would be refused again, so the
// kind that worked is tried first; the other is still tried when it fails
// (a changed sysctl or capability).
enum SocketKind : int { kPing = SOCK_DGRAM, kRaw = SOCK_RAW };
std::atomic<int> workingKind{kPing};

int OpenOfKind(int kind) { return socket(AF_INET, kind | SOCK_CLOEXEC, IPPROTO_ICMP); }

// The unprivileged ping socket where net.ipv4.ping_group_range allows it,
// else a raw socket (needs CAP_NET_RAW).
bool OpenIcmpSocket(Socket& s) {
  const int first = workingKind.load(std::memory_order_relaxed);
  const int second = first == kPing ? kRaw : kPing;
  for (int kind : {first, second}) {
    s.fd = OpenOfKind(kind);
    if (s.fd < 0) continue;
    s.raw = kind == kRaw;
    if (kind != first) workingKind.store(kind, std::memory_order_relaxed);
    return true;
  }
  return false;
}

uint16_t Checksum(const uint8_t* p, size_t len) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < len; i += 2) sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
  if (len % 2) sum += static_cast<uint32_t>(p[len - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

std::vector<uint8_t> BuildRequest(uint16_t id, uint16_t seq, size_t payloadSize) {
  std::vector<uint8_t> msg(kIcmpHeader + payloadSize, 0);
  msg[0] = kEchoRequest;
  Put16(&msg[4], id);
  Put16(&msg[6], seq);
  Put16(&msg[2], Checksum(msg.data(), msg.size()));
  return msg;
}

enum class Match { Ignore, Reply, Error };

// Classifies one received datagram.  A raw socket sees every ICMP message
// of the host, our own request on loopback included; an ICMP error that
// quotes our request (unreachable, time exceeded) ends the wait at once.
Match Classify(const uint8_t* p, size_t n, bool raw, uint16_t id, uint16_t seq) {
  if (raw) {
    if (n < 20) return Match::Ignore;
    size_t ihl = static_cast<size_t>(p[0] & 0x0F) * 4;
    if (ihl < 20 || ihl > n) return Match::Ignore;
    p += ihl;
    n -= ihl;
  }
  if (n < kIcmpHeader) return Match::Ignore;
  if (p[0] == kEchoReply) {
    // A ping socket's identifier is the kernel's; only the sequence is ours.
    if (Get16(p + 6) != seq || (raw && Get16(p + 4) != id)) return Match::Ignore;
    return Match::Reply;
  }
  if (!raw || (p[0] != ICMP_DEST_UNREACH && p[0] != ICMP_TIME_EXCEEDED)) return Match::Ignore;
  const uint8_t* inner = p + kIcmpHeader;
  size_t left = n - kIcmpHeader;
  if (left < 20) return Match::Ignore;
  size_t ihl = static_cast<size_t>(inner[0] & 0x0F) * 4;
  if (ihl < 20 || left < ihl + kIcmpHeader) return Match::Ignore;
  const uint8_t* quoted = inner + ihl;
  bool ours = quoted[0] == kEchoRequest && Get16(quoted + 4) == id && Get16(quoted + 6) == seq;
  return ours ? Match::Error : Match::Ignore;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

EchoOutcome AwaitReply(const Socket& s, uint16_t id, uint16_t seq, int timeoutMs,
                       std::string& replyFrom) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // Only headers are read: an ICMP error quotes at most two IP headers and
  // eight bytes each, so a longer datagram may be cut.
  uint8_t buf[512];
  for (;;) {
    int waitMs = RemainingMs(deadline);
    pollfd pfd{s.fd, POLLIN, 0};
    int r = poll(&pfd, 1, waitMs);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return EchoOutcome::NoReply;
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t n = recvfrom(s.fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return EchoOutcome::NoReply;  // an ICMP error reported on the ping socket
    switch (Classify(buf, static_cast<size_t>(n), s.raw, id, seq)) {
      case Match::Reply:
        replyFrom = InetNtoa(from.sin_addr.s_addr);
        return EchoOutcome::Reply;
      case Match::Error:
        return EchoOutcome::NoReply;
      case Match::Ignore:
        break;
    }
  }
}

}  // namespace

EchoOutcome IcmpEcho(const std::string& dotted, size_t payloadSize, int timeoutMs,
                     std::string& replyFrom) {
  replyFrom.clear();
  Socket s;
  if (!OpenIcmpSocket(s)) return EchoOutcome::Unavailable;
  uint32_t target = InetAddr(dotted);
  if (target == kInvalidAddress || payloadSize > kMaxPayload) return EchoOutcome::NoReply;

  uint16_t id = static_cast<uint16_t>(getpid());
  uint16_t seq = nextSequence.fetch_add(1);
  std::vector<uint8_t> request = BuildRequest(id, seq, payloadSize);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = target;
  ssize_t sent;
  do {
    sent = sendto(s.fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
                  sizeof to);
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(request.size())) return EchoOutcome::NoReply;
  return AwaitReply(s, id, seq, timeoutMs, replyFrom);
}

bool IcmpPrefersRawSocket() { return workingKind.load(std::memory_order_relaxed) == kRaw; }

}  // namespace tv::platform
