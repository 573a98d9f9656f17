#include "program/report.h"

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
