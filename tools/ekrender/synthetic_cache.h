// Synthetic particle caches: a swirl of points that moves from frame to frame, written as the
// files simulation tools export (binary PLY, OpenVDB point grids). ekcache writes them to try
// sequences and farm setups; the tests and benchmarks write their inputs with them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ekrender {

struct CachePoint {
  float position[3];
  float velocity[3]; // displacement per frame
  float color[3];    // 0..1
};

// `count` points of the swirl at `frame`; the same arguments give the same points.
std::vector<CachePoint> swirlPoints(uint64_t count, int frame);

// Binary little-endian PLY: float x y z vx vy vz, uchar red green blue.
bool writePlyCache(const std::string &path, const std::vector<CachePoint> &points,
                   std::string &error);

// OpenVDB points: one grid "points" with P (fixed point within the voxel), v and Cd (half floats)
// and an "id" the renderer has no use for. False with a message when written without OpenVDB.
bool writeVdbCache(const std::string &path, const std::vector<CachePoint> &points,
                   std::string &error);

} // namespace ekrender
