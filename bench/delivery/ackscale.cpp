#include "ackscale.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <thread>
#include <vector>

#include "proc.h"

namespace tv::bench {
namespace {

// Length of the frame at the head of p[0..have): 0 when more bytes are
// needed, -1 for a head no goods frame has.
long FrameLength(const uint8_t* p, size_t have) {
  if (have < 2) return 0;
  if (p[0] == 0xF3 && p[1] == 0x25) return 6;
  if (p[0] == 0xF1 && p[1] == 0x4E) return 14;
  if (p[0] != 0xF1 || p[1] != 0x25) return -1;
  if (have < 8) return 0;
  return ((long{p[6]} << 8) | p[7]) + 2;
}

void AppendDump(std::string& dump, const uint8_t* frame, size_t length) {
  uint8_t head[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                     static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
  dump.append(reinterpret_cast<const char*>(head), 4);
  dump.append(reinterpret_cast<const char*>(frame), length);
}

// Answers the frames of one connection until the peer closes.
void Serve(int fd, TScaleStats& stats, std::string* dump, int delayUs) {
  std::vector<uint8_t> buf(1 << 17);
  size_t have = 0;
  const uint8_t ack = 0x06;
  for (;;) {
    ssize_t n = recv(fd, buf.data() + have, buf.size() - have, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    have += static_cast<size_t>(n);
    size_t at = 0;
    for (;;) {
      long length = FrameLength(buf.data() + at, have - at);
      if (length < 0) {
        stats.malformed.fetch_add(1);
        return;
      }
      if (length == 0 || static_cast<size_t>(length) > have - at) break;
      if (dump) AppendDump(*dump, buf.data() + at, static_cast<size_t>(length));
      at += static_cast<size_t>(length);
      stats.frames.fetch_add(1, std::memory_order_relaxed);
      if (delayUs > 0) usleep(static_cast<useconds_t>(delayUs));
      if (send(fd, &ack, 1, MSG_NOSIGNAL) != 1) return;
    }
    std::memmove(buf.data(), buf.data() + at, have - at);
    have -= at;
    if (have == buf.size()) return;  // a frame longer than any record
  }
}

void RunScale(int listener, TScaleStats& stats, const std::string& dumpPath, int delayUs) {
  bool dumped = dumpPath.empty();
  for (;;) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    int64_t expected = 0;
    stats.firstAcceptNs.compare_exchange_strong(expected, RealtimeNs());
    std::string dump;
    Serve(fd, stats, dumped ? nullptr : &dump, delayUs);
    close(fd);
    stats.lastCloseNs.store(RealtimeNs());
    stats.connections.fetch_add(1);
    if (!dumped) {
      WriteFile(dumpPath, dump);
      dumped = true;
    }
  }
}

int Listen(int scale, int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(0x7F000000u | static_cast<uint32_t>(scale));
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The child: listens, tells the parent through `ready`, serves until
// SIGTERM.  Threads are never joined: the process ends with _exit.
[[noreturn]] void ChildMain(const TAckScalesOptions& o, TScaleStats* stats, int ready) {
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigprocmask(SIG_BLOCK, &term, nullptr);
  if (!o.cpus.empty()) PinProcess(getpid(), o.cpus);
  for (int n = 1; n <= o.scales; ++n) {
    int fd = Listen(n, o.portBase + n);
    if (fd < 0) {
      std::fprintf(stderr, "ack scale %d: cannot listen: %s\n", n, std::strerror(errno));
      _exit(1);
    }
    std::thread(RunScale, fd, std::ref(stats[n]), n == 1 ? o.dumpPath : std::string(), o.delayUs)
        .detach();
  }
  char r = 'r';
  if (write(ready, &r, 1) != 1) _exit(1);
  int sig = 0;
  sigwait(&term, &sig);
  _exit(0);
}

}  // namespace

TAckScales::TAckScales() {
  void* p = mmap(nullptr, sizeof(TScaleStats) * (kMaxScales + 1), PROT_READ | PROT_WRITE,
                 MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (p != MAP_FAILED) stats_ = new (p) TScaleStats[kMaxScales + 1];
}

TAckScales::~TAckScales() {
  Stop();
  if (stats_) munmap(stats_, sizeof(TScaleStats) * (kMaxScales + 1));
}

bool TAckScales::Start(const TAckScalesOptions& options) {
  if (!stats_ || options.scales < 1 || options.scales > kMaxScales) return false;
  for (int n = 0; n <= kMaxScales; ++n) {
    TScaleStats& s = stats_[n];
    s.firstAcceptNs = 0;
    s.lastCloseNs = 0;
    s.frames = 0;
    s.connections = 0;
    s.malformed = 0;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    ChildMain(options, stats_, fds[1]);
  }
  close(fds[1]);
  char r = 0;
  bool ok = pid_ > 0 && read(fds[0], &r, 1) == 1;
  close(fds[0]);
  if (!ok) Stop();
  return ok;
}

void TAckScales::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

int64_t TAckScales::FirstAcceptNs(int n) const {
  int64_t first = 0;
  for (int i = 1; i <= n; ++i) {
    int64_t t = stats_[i].firstAcceptNs.load();
    if (t != 0 && (first == 0 || t < first)) first = t;
  }
  return first;
}

int64_t TAckScales::LastCloseNs(int n) const {
  int64_t last = 0;
  for (int i = 1; i <= n; ++i) last = std::max(last, stats_[i].lastCloseNs.load());
  return last;
}

bool TAckScales::AllClosed(int n, uint64_t connections) const {
  for (int i = 1; i <= n; ++i) {
    if (stats_[i].connections.load() < connections) return false;
  }
  return true;
}

}  // namespace tv::bench
