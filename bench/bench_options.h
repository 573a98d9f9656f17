// Command line shared by the renderer benchmarks: --device cpu|cuda, --particles N, --repeat N.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "emberkit.h"

namespace ek::bench {

struct Options {
  int device = EK_DEVICE_CPU;
  uint64_t particles = 1000000;
  int repeat = 3;
};

inline bool parseOptions(int argc, char **argv, Options &o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--device" && i + 1 < argc) {
      const std::string v = argv[++i];
      if (v != "cpu" && v != "cuda")
        return false;
      o.device = v == "cpu" ? EK_DEVICE_CPU : 0;
    } else if (arg == "--particles" && i + 1 < argc) {
      o.particles = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--repeat" && i + 1 < argc) {
      o.repeat = std::max(1, std::atoi(argv[++i]));
    } else {
      return false;
    }
  }
  return o.particles > 0;
}

} // namespace ek::bench
