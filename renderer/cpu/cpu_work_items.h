// Walking the work items of a CPU launch.
#pragma once

#include <algorithm>

#include "kernels/sampling.h"

namespace ek {

// Visits the work items [begin, end) in order, decoding them incrementally rather than dividing
// for each. With an `order`, slot s of the work stands for particle order[s]; the particle index
// (and with it every random stream) stays the particle's own, only the visiting order changes.
// visit(work, first) is told whether the item is the first of the range.
template <typename Visit>
void forEachWorkItem(int32_t repopulation, int32_t samples, uint64_t begin, uint64_t end,
                     const uint32_t *order, Visit &&visit) {
  const uint32_t sampleCount = uint32_t(samples);
  const uint32_t copies = uint32_t(repopulation) + 1;
  WorkItem slot = decodeWorkItem(begin, repopulation, samples);
  for (uint64_t item = begin; item < end; ++item) {
    WorkItem work = slot;
    if (order)
      work.particle = order[slot.particle];
    visit(work, item == begin);
    if (++slot.sample == sampleCount) {
      slot.sample = 0;
      if (++slot.copy == copies) {
        slot.copy = 0;
        ++slot.particle;
      }
    }
  }
}

// Visits the work items [begin, end) a copy at a time: visit(work, count) stands for the `count`
// items of work's copy from its sample work.sample on, all within the range. Only the range's
// first item is decoded; the copies after it are counted on, without decodeWorkItem's divisions
// (which cost more than placing a copy without offset).
template <typename Visit>
void forEachCopyRun(int32_t repopulation, int32_t samples, uint64_t begin, uint64_t end,
                    Visit &&visit) {
  const uint64_t sampleCount = uint64_t(samples);
  const uint32_t copies = uint32_t(repopulation) + 1;
  WorkItem work = decodeWorkItem(begin, repopulation, samples);
  for (uint64_t item = begin; item < end;) {
    const uint64_t runEnd = std::min(end, item + (sampleCount - work.sample));
    visit(work, uint32_t(runEnd - item));
    item = runEnd;
    work.sample = 0;
    if (++work.copy == copies) {
      work.copy = 0;
      ++work.particle;
    }
  }
}

// How many of copy `copy`'s `samples` work items (copy * samples onwards) lie in [begin, end); the
// copy overlaps the range.
inline uint64_t copySamplesInRange(uint64_t copy, uint64_t samples, uint64_t begin, uint64_t end) {
  return std::min(end, (copy + 1) * samples) - std::max(begin, copy * samples);
}

} // namespace ek
