// The first frame of a fresh context beside a later frame of the same request: what a single
// render, or the first frame of a short farm chunk, pays for allocating and first touching its
// buffers. Medians over `repeat` fresh contexts.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "emberkit.h"

namespace ek::bench {

struct FirstFrame {
  double firstMs = 0, laterMs = 0;
};

// `setup(context)` fills a fresh context (not timed); `render(context)` renders one frame and
// returns ekRender's status.
template <typename Setup, typename Render>
bool measureFirstFrame(int device, int repeat, Setup &&setup, Render &&render, FirstFrame &out) {
  std::vector<double> first, later;
  auto timed = [&](EKContext *context, std::vector<double> &times) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = render(context) == 0;
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    return ok;
  };
  for (int i = 0; i < repeat; ++i) {
    EKContext *context = ekCreate(device);
    const bool ok = context && setup(context) && timed(context, first) && timed(context, later) &&
                    timed(context, later);
    if (!ok) {
      std::fprintf(stderr, "first frame: %s\n", context ? ekLastError(context) : "no context");
      ekDestroy(context);
      return false;
    }
    ekDestroy(context);
  }
  auto median = [](std::vector<double> &v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  out = {median(first), median(later)};
  return true;
}

inline void printFirstFrame(const char *name, const FirstFrame &f) {
  std::printf("  %-30s first %7.1f ms, later %7.1f ms, ratio %.2f (goal <= 1.5)\n", name,
              f.firstMs, f.laterMs, f.firstMs / f.laterMs);
}

} // namespace ek::bench
