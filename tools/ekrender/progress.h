// Progress of a frame sequence: a one-line bar with the time left on a terminal, else one plain
// line per frame that render-farm managers parse ("Progress: 40% (2/5) frame 12: wrote x.png").
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace ekrender {

class ProgressBar {
public:
  // A bar when `out` is a terminal, plain lines otherwise.
  ProgressBar(int total, std::FILE *out);
  // Shows `done` of the total; the estimate uses the mean time per finished step. Plain lines
  // carry `event`, what the step did.
  void update(int done, const std::string &event);
  void finish();

  // "[#####-----] 12/24  00:42 left" for a given state; exposed for tests.
  static std::string line(int done, int total, double secondsLeft, int width);
  static std::string plainLine(int done, int total, const std::string &event);

private:
  int total_;
  std::FILE *out_;
  bool terminal_;
  std::chrono::steady_clock::time_point start_;
};

} // namespace ekrender
