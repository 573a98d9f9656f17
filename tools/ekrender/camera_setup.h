// The camera of an ekrender run: given by the options or framed around the particles, and turned
// around the target for the frames of a turntable sequence.
#pragma once

#include <vector>

#include "options.h"

namespace ekrender {

struct Bounds {
  EKV3 min{-90, -8, -90}, max{90, 8, 90}; // where most of the test cloud lies
};

Bounds boundsOf(const std::vector<EKV3> &positions);

// Camera for frame `frame` of `frames` (frame 0 is the unturned view).
EKCamera cameraFor(const Options &options, const Bounds &bounds, int frame, int frames);

} // namespace ekrender
