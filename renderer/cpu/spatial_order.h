// A visiting order of particles along a Morton curve through their bounding box. Passes that
// scatter into large maps (shadow maps, the camera depth map) touch far fewer cache lines when
// neighbouring work items are neighbours in space.
#pragma once

#include <cstdint>
#include <vector>

#include "cpu/worker_pool.h"
#include "emberkit.h"

namespace ek {

// Fills `order` with the particle indices 0 .. count - 1 sorted by the Morton code of their
// position quantised to 1024 steps per axis of the box [lo, hi]. Equal codes keep index order.
void buildSpatialOrder(WorkerPool &pool, const EKV3 *positions, uint32_t count, const float lo[3],
                       const float hi[3], std::vector<uint32_t> &order);

} // namespace ek
