// Small helpers shared by the tests: a temporary directory that cleans up
// after itself, polling with a deadline, and running the real binary.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace tv::test {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tovalink-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  std::string File(const std::string& name) const { return *this / name; }

 private:
  std::string path_;
};

// A clock that says what the test sets.
class FixedClock : public platform::Clock {
 public:
  FixedClock() = default;
  explicit FixedClock(platform::LocalTime t) : now(t) {}
  platform::LocalTime Now() const override { return now; }
  platform::LocalTime now;
};

// Polls `cond` every 10 ms until it holds or `timeoutMs` passes.
// Time bounds that a test asserts are met by the normal build; the
// sanitizer builds run several times slower, so scripts/test stretches the
// bounds there by TOVALINK_TEST_TIME_SCALE.
inline long Scaled(long ms) {
  const char* v = std::getenv("TOVALINK_TEST_TIME_SCALE");
  const long scale = v != nullptr ? std::strtol(v, nullptr, 10) : 1;
  return ms * (scale > 1 ? scale : 1);
}

// A bound that tells a short time-out from a longer one the code must not
// use: stretched like Scaled, but never as far as `longer`, which it exists
// to tell apart.
inline long ScaledBelow(long ms, long longer) { return std::min(Scaled(ms), longer); }

inline bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

inline std::string BinaryDir() {
  const char* d = std::getenv("TOVALINK_BINARY_DIR");
  return d ? d : ".";
}

// The real tovalink binary as a child process.
class Process {
 public:
  Process(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(out[1], 2);
      close(out[0]);
      close(out[1]);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> argv;
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    outFd_ = out[0];
  }
  ~Process() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      Wait(5000);
    }
    if (outFd_ >= 0) close(outFd_);
  }
  void Signal(int sig) { kill(pid_, sig); }
  pid_t Pid() const { return pid_; }
  // Waits for the exit; false on time-out.  Reads the output as it goes.
  bool Wait(int timeoutMs) {
    if (exited_) return true;  // reaped already: waitpid would fail
    bool done = WaitUntil(
        [&] {
          Drain();
          int status = 0;
          if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
          }
          return false;
        },
        timeoutMs);
    Drain();
    return done;
  }
  int ExitCode() const { return exitCode_; }
  const std::string& Output() {
    Drain();
    return output_;
  }

 private:
  void Drain() {
    if (outFd_ < 0) return;
    char buf[4096];
    for (;;) {
      pollfd p{outFd_, POLLIN, 0};
      if (poll(&p, 1, 0) <= 0) return;
      ssize_t n = read(outFd_, buf, sizeof buf);
      if (n <= 0) {
        close(outFd_);
        outFd_ = -1;
        return;
      }
      output_.append(buf, static_cast<size_t>(n));
    }
  }
  pid_t pid_ = -1;
  int outFd_ = -1;
  bool exited_ = false;
  int exitCode_ = -1;
  std::string output_;
};

// Runs the binary to completion and returns its exit code and output.
inline int RunBinary(const std::vector<std::string>& args, const std::vector<std::string>& env, std::string& output,
                     int timeoutMs = 30000) {
  Process p(args, env);
  if (!p.Wait(timeoutMs)) return -1;
  output = p.Output();
  return p.ExitCode();
}

inline std::string TovalinkBinary() { return BinaryDir() + "/tovalink"; }

}  // namespace tv::test
