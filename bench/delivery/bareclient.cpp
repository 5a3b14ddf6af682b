#include "bareclient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <new>
#include <thread>

#include "proc.h"

namespace tv::bench {
namespace {

constexpr int kBatch = 10;

struct TShared {
  std::atomic<int64_t> elapsedNs{0};
  std::atomic<uint64_t> framesAcked{0};
  std::atomic<int> failed{0};
};

bool SendAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

void Deliver(const TFrames& f, int scale, int port, TShared& shared) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(0x7F000000u | static_cast<uint32_t>(scale));
  uint64_t acked = 0;
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    for (const auto& [offset, length] : f.frames) {
      const char* frame = f.bytes.data() + offset;
      if (!SendAll(fd, frame, length)) break;
      uint8_t answer = 0;
      ssize_t n;
      do {
        n = recv(fd, &answer, 1, 0);
      } while (n < 0 && errno == EINTR);
      if (n != 1 || (answer != 0x06 && answer != 0xE2)) break;
      ++acked;
    }
    shutdown(fd, SHUT_RDWR);
  }
  if (fd >= 0) close(fd);
  if (acked != f.frames.size()) shared.failed.fetch_add(1);
  shared.framesAcked.fetch_add(acked);
}

[[noreturn]] void ChildMain(const TFrames& f, int scales, int portBase, const std::set<int>& cpus,
                            TShared& shared) {
  if (!cpus.empty()) PinProcess(getpid(), cpus);
  int64_t t0 = MonotonicNs();
  for (int next = 1; next <= scales;) {
    std::vector<std::thread> batch;
    for (int k = 0; k < kBatch && next <= scales; ++k, ++next)
      batch.emplace_back(Deliver, std::cref(f), next, portBase + next, std::ref(shared));
    for (std::thread& t : batch) t.join();
  }
  shared.elapsedNs = MonotonicNs() - t0;
  _exit(0);
}

}  // namespace

bool LoadFrames(const std::string& path, TFrames& out) {
  out = TFrames{};
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  uint8_t head[4];
  while (std::fread(head, 1, 4, file) == 4) {
    size_t length = head[0] | head[1] << 8 | head[2] << 16 | static_cast<size_t>(head[3]) << 24;
    size_t at = out.bytes.size();
    out.bytes.resize(at + length);
    if (std::fread(out.bytes.data() + at, 1, length, file) != length) break;
    out.frames.emplace_back(at, length);
  }
  std::fclose(file);
  return !out.frames.empty();
}

TBareRun RunBareClient(const TFrames& frames, int scales, int portBase, const std::set<int>& cpus) {
  TBareRun run;
  void* p =
      mmap(nullptr, sizeof(TShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return run;
  TShared* shared = new (p) TShared;
  pid_t pid = fork();
  if (pid == 0) ChildMain(frames, scales, portBase, cpus, *shared);
  int status = 0;
  rusage usage{};
  while (pid > 0 && wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  run.ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && shared->failed == 0;
  run.elapsedS = static_cast<double>(shared->elapsedNs.load()) / 1e9;
  run.framesAcked = shared->framesAcked;
  run.cpuS = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  munmap(p, sizeof(TShared));
  return run;
}

}  // namespace tv::bench
