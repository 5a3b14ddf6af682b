// Process helpers of the delivery benchmark: clocks, CPU time of another
// process, CPU affinity of every thread of a process, running a command.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tv::bench {

int64_t RealtimeNs();
int64_t MonotonicNs();

// utime + stime of a running process, in seconds (clock-tick resolution).
double ProcessCpuSeconds(pid_t pid);

// Sets the CPU affinity of every thread of `pid`; threads it creates later
// inherit it from their creator.  An empty set means every CPU.
void PinProcess(pid_t pid, const std::set<int>& cpus);
// The CPUs this process may run on.
std::set<int> AllowedCpus();

// Runs `argv` with `env` added to this process's environment, output
// discarded; true when it exits with 0.
bool RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env);
// Starts `argv` without waiting; its output goes to `logPath`.
pid_t SpawnCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& logPath);

bool WriteFile(const std::string& path, const std::string& data);

// The benchmarks open sockets, so they run in a network namespace of their
// own with only loopback.  Started outside one, this re-executes the program
// through `netnsRun` and does not return; inside, it returns whether only
// loopback is there (false, with a message naming `program`, otherwise).
bool InLoopbackNamespace(const char* program, const char* netnsRun, int argc, char** argv);

// `work` when given (created if missing), else a new directory under the
// temporary directory named after `prefix`; empty when it cannot be made.
std::string WorkDirectory(const std::string& work, const std::string& prefix);

}  // namespace tv::bench
