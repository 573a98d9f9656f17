// The part of flarion-host's report that lists what the plug-in showed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "host_state.h"
#include "preview_event.h"

namespace standin::program {

// One line per event, for example
//   tick 1 (40.0 ms): image 640x360 in area 1000 | Particles: 1234
//   tick 1 (40.0 ms): redraw of area 1000 (640x360)
std::string describePreviewEvents(const std::vector<PreviewEvent> &events);

// One line per changed static text (status line, export progress), for example
//   tick 3 (120.0 ms): 1025 = Image 1 of 4 (frame 0) | 25 % | elapsed 0:00 | approx. 0:01 ...
std::string describeTextEvents(const std::vector<TextEvent> &events);

// The host status bar's values in one line: "Status bar: 3% 10% ... cleared".
std::string describeStatusBar(const std::vector<StatusBarEvent> &events);

// The files of a folder, sorted, with their sizes: what an export wrote.
std::string describeFolder(const std::filesystem::path &folder);

} // namespace standin::program
