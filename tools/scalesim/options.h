// The command line of tovalink-scalesim: which scales to play, on which
// ports, and how each one misbehaves.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "scalesim/sim_scale.h"

namespace tv::sim {

struct SimOptions {
  std::string prefix = "127.0.0.";
  std::vector<int> scales;
  int portBase = 2000;
  bool sm700Only = false;  // port-base + n speaks SM700 instead of goods
  int sm700Base = 0;       // also SM700 on sm700Base + n (0: off)
  std::map<int, Behaviour> behaviours;  // by scale number; default Behaviour otherwise
  std::string outFile;                  // empty: stdout
  bool help = false;                    // --help: print the usage, play nothing

  Behaviour BehaviourOf(int scale) const;
};

// Parses argv[1..]; false with `error` set on anything it cannot accept,
// including a prefix outside loopback and ports beyond 65535.
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& out, std::string& error);

extern const char kSimUsage[];

}  // namespace tv::sim
