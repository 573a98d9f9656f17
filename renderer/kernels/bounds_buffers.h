// The buffers a bounds pass leaves its measure in: the bounds and the largest squared speed (seven
// floats), the moments and the particle count (seven doubles).
#pragma once

#include "kernels/volume.h"

namespace ek {

// Merges a reduction into the buffers' measure, as adding to them atomically would.
EK_HD void mergeIntoBoundsBuffers(const BoundsPartial &b, float *bounds, double *moments) {
  BoundsPartial current = neutralBounds();
  for (int a = 0; a < 3; ++a) {
    current.minimum[a] = bounds[a];
    current.maximum[a] = bounds[3 + a];
    current.sum[a] = moments[a];
    current.sumSquares[a] = moments[3 + a];
  }
  current.speedSquared = bounds[6];
  current.count = moments[6];
  mergeBounds(current, b);
  for (int a = 0; a < 3; ++a) {
    bounds[a] = current.minimum[a];
    bounds[3 + a] = current.maximum[a];
    moments[a] = current.sum[a];
    moments[3 + a] = current.sumSquares[a];
  }
  bounds[6] = current.speedSquared;
  moments[6] = current.count;
}

} // namespace ek
