#include "program/report.h"

#include <algorithm>
#include <cstdio>

namespace standin::program {

namespace {

std::string describe(const PreviewEvent &event) {
  char clock[64];
  std::snprintf(clock, sizeof clock, "%.1f", event.clockMs);
  std::string line = "tick " + std::to_string(event.tick) + " (" + clock + " ms): ";
  const std::string size = std::to_string(event.width) + "x" + std::to_string(event.height);
  const std::string area = std::to_string(event.controlId);
  if (event.kind == PreviewEvent::Kind::Image) {
    line += "image " + size + " in area " + area;
    if (!event.status.empty()) {
      line += " | " + event.status;
    }
  } else {
    line += "redraw of area " + area + " (" + size + ")";
  }
  return line + "\n";
}

} // namespace

std::string clockText(int64_t tick, double clockMs) {
  char clock[64];
  std::snprintf(clock, sizeof clock, "%.1f", clockMs);
  return "tick " + std::to_string(tick) + " (" + clock + " ms): ";
}

std::string describeTextEvents(const std::vector<TextEvent> &events) {
  if (events.empty()) {
    return "Text changes: none\n";
  }
  std::string text = "Text changes:\n";
  for (const TextEvent &event : events) {
    text += clockText(event.tick, event.clockMs) + std::to_string(event.controlId) + " = " +
            event.text + "\n";
  }
  return text;
}

std::string describeStatusBar(const std::vector<StatusBarEvent> &events) {
  if (events.empty()) {
    return "Status bar: untouched\n";
  }
  std::string text = "Status bar:";
  for (const StatusBarEvent &event : events) {
    if (event.cleared) {
      text += " cleared";
    } else {
      text += ' ';
      text += std::to_string(event.percent);
      text += '%';
    }
  }
  return text + "\n";
}

std::string describeFolder(const std::filesystem::path &folder) {
  std::error_code error;
  std::vector<std::pair<std::string, uintmax_t>> files;
  for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_regular_file(error)) {
      files.emplace_back(entry.path().filename().string(), entry.file_size(error));
    }
  }
  if (error) {
    return "Files in " + folder.string() + ": cannot be listed (" + error.message() + ")\n";
  }
  std::sort(files.begin(), files.end());
  std::string text = "Files in " + folder.string() + ": " + std::to_string(files.size()) + "\n";
  for (const auto &[name, size] : files) {
    text += "  " + name + " (" + std::to_string(size) + " bytes)\n";
  }
  return text;
}

std::string describePreviewEvents(const std::vector<PreviewEvent> &events) {
  if (events.empty()) {
    return "Preview events: none\n";
  }
  std::string text = "Preview events:\n";
  for (const PreviewEvent &event : events) {
    text += describe(event);
  }
  return text;
}

} // namespace standin::program
