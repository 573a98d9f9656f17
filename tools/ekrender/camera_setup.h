// The camera of an ekrender run: given by the options or framed around the particles, and turned
// around the target for the frames of a turntable sequence.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "options.h"

namespace ekrender {

struct Bounds {
  EKV3 min{-90, -8, -90}, max{90, 8, 90}; // where most of the test cloud lies
};

// Bounds of the particles whose coordinates are all finite (the renderer leaves the others out);
// the default bounds when there are none.
Bounds boundsOf(const std::vector<EKV3> &positions);

// Camera for frame `frame` of `frames` (frame 0 is the unturned view).
EKCamera cameraFor(const Options &options, const Bounds &bounds, int frame, int frames);

// What makes a camera unable to show anything, or empty when nothing does: the eye on the target,
// or an up direction that is zero or parallel to the view. A turntable turns about the up
// direction, so frame 0 speaks for every frame.
std::string cameraProblem(const EKCamera &camera);

// The camera's view as OpenEXR's "worldToCamera" matrix: 16 floats, element [row * 4 + column],
// points as row vectors, in a camera space with x to the right, y up and the view along -z (so the
// target lies at z = -distance). For a spherical camera, the frame of its centre eye.
std::array<float, 16> worldToCamera(const EKCamera &camera);

// The perspective camera's projection into a width x height image as OpenEXR's "worldToNDC"
// matrix, laid out like worldToCamera's: a world point times it, divided by w, has x from 0 at the
// image's left edge to 1 at its right and y from 0 at the top to 1 at the bottom, where the
// renderer draws the point (z is the inverse of the point's depth). None for a spherical camera,
// whose projection no matrix describes.
std::optional<std::array<float, 16>> worldToNDC(const EKCamera &camera, int width, int height);

} // namespace ekrender
