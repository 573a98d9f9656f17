// A one-line progress bar with the time left, for frame sequences.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace ekrender {

class ProgressBar {
public:
  ProgressBar(int total, std::FILE *out);
  // Shows `done` of the total; the estimate uses the mean time per finished step.
  void update(int done);
  void finish();

  // "[#####-----] 12/24  00:42 left" for a given state; exposed for tests.
  static std::string line(int done, int total, double secondsLeft, int width);

private:
  int total_;
  std::FILE *out_;
  std::chrono::steady_clock::time_point start_;
};

} // namespace ekrender
