// OpenVDB point files (.vdb with point data grids, as simulation tools write particle caches).
#pragma once

#include <string>

#include "particle_file.h"

namespace ekrender {

// Reads every point data grid of the file: positions in world space through each grid's transform,
// velocity from "v", colour from "Cd" (0..1) and alpha from "Alpha", whatever their storage codec.
// Other attributes are ignored and named in out.columns. False with a message naming the file
// and, where it applies, the grid.
bool readVdbPoints(const std::string &path, ParticleData &out, std::string &error);

} // namespace ekrender
