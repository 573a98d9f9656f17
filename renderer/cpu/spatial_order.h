// A visiting order of particles along a Morton curve through their bounding box. Passes that
// scatter into large maps (shadow maps, the camera depth map) touch far fewer cache lines when
// neighbouring work items are neighbours in space.
#pragma once

#include <cstdint>
#include <vector>

#include "cpu/page_array.h"
#include "cpu/worker_pool.h"
#include "emberkit.h"

namespace ek {

class SpatialOrder {
public:
  // Makes the order of the particle indices 0 .. count - 1 sorted by the Morton code of their
  // position quantised to 1024 steps per axis of the box [lo, hi]. Equal codes keep index order.
  // The sort's buffers are kept for the next call, which then touches no fresh memory.
  void build(WorkerPool &pool, const EKV3 *positions, uint32_t count, const float lo[3],
             const float hi[3]);

  const PageArray<uint32_t> &order() const { return order_; }

private:
  PageArray<uint32_t> order_, codes_, sortedCodes_, sortedOrder_;
  std::vector<uint32_t> counts_; // per part of the work, per digit value
};

} // namespace ek
