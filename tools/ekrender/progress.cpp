#include "progress.h"

#include <algorithm>

#include <unistd.h>

namespace ekrender {

namespace {

constexpr int kBarWidth = 30;

std::string clock(double seconds) {
  const long total = long(seconds + 0.5);
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  else
    std::snprintf(text, sizeof text, "%02ld:%02ld", total / 60, total % 60);
  return text;
}

} // namespace

ProgressBar::ProgressBar(int total, std::FILE *out)
    : total_(std::max(total, 1)), out_(out), terminal_(isatty(fileno(out)) == 1),
      start_(std::chrono::steady_clock::now()) {}

std::string ProgressBar::plainLine(int done, int total, const std::string &event) {
  const int percent = total > 0 ? int(int64_t(std::clamp(done, 0, total)) * 100 / total) : 100;
  return "Progress: " + std::to_string(percent) + "% (" + std::to_string(done) + "/" +
         std::to_string(total) + ") " + event;
}

std::string ProgressBar::line(int done, int total, double secondsLeft, int width) {
  done = std::clamp(done, 0, total);
  const int filled = total > 0 ? int(int64_t(done) * width / total) : width;
  std::string text(1, '[');
  text.append(size_t(filled), '#').append(size_t(width - filled), '-');
  text.append("] ").append(std::to_string(done)).append("/").append(std::to_string(total));
  if (done < total && done > 0)
    text += "  " + clock(secondsLeft) + " left";
  return text;
}

void ProgressBar::update(int done, const std::string &event) {
  if (!terminal_) {
    std::fprintf(out_, "%s\n", plainLine(done, total_, event).c_str());
    std::fflush(out_);
    return;
  }
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double left = done > 0 ? elapsed / done * (total_ - done) : 0.0;
  std::fprintf(out_, "\r%s   ", line(done, total_, left, kBarWidth).c_str());
  std::fflush(out_);
}

void ProgressBar::finish() {
  if (!terminal_)
    return;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::fprintf(out_, "\r%s  in %s\n", line(total_, total_, 0, kBarWidth).c_str(),
               clock(elapsed).c_str());
}

} // namespace ekrender
