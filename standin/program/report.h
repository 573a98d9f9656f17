// The part of flarion-host's report that lists what the plug-in showed.
#pragma once

#include <string>
#include <vector>

#include "preview_event.h"

namespace standin::program {

// One line per event, for example
//   tick 1 (40.0 ms): image 640x360 in area 1000 | Particles: 1234
//   tick 1 (40.0 ms): redraw of area 1000 (640x360)
std::string describePreviewEvents(const std::vector<PreviewEvent> &events);

} // namespace standin::program
