// The layer sums that a layered volumetric render's shading gathers on the CPU, beside its beauty.
// They are summed as the beauty is (accumulateSamples): each part of the shading adds its samples'
// records on its own, part 0 into the shared sums and every other part into a private copy, and
// the copies are merged into the shared sums in part order afterwards. The sums thus come out the
// same on every run, whatever the number of workers. Where the private copies would pass their
// memory budget (or the beauty's parts share its accumulator), the samples are added atomically
// into the shared sums instead, which is as correct but may differ in the last bits run to run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "cpu/cpu_accumulate.h"
#include "cpu/dirty_tiles.h"
#include "cpu/prefetch.h"
#include "cpu/private_image.h"
#include "cpu/worker_pool.h"
#include "kernels/ek_hd.h"
#include "kernels/layer_plan.h"

namespace ek {

constexpr uint64_t kPrivateLayerSumsBudget = uint64_t(1) << 30;

// Where one part of the shading adds its records.
struct LayerSumsTarget {
  float *sums;
  uint8_t *privateDirty;         // a private copy's tile flags; null for the shared sums
  const DirtyTiles *sharedTiles; // the shared sums' tiles
  bool atomic;                   // other parts add into the same sums meanwhile
};

// Collects the records of shaded samples and adds them in batches: each record's cells are asked
// for when it is handed in and added once the batch is full, by which time most have arrived (the
// sums are sized far beyond the caches and the samples land all over them).
class LayerRecordBatch {
public:
  LayerRecordBatch(const LayerSumsTarget &target, int32_t stride)
      : target_(target), stride_(uint32_t(stride)) {}
  ~LayerRecordBatch() { flush(); }
  LayerRecordBatch(const LayerRecordBatch &) = delete;
  LayerRecordBatch &operator=(const LayerRecordBatch &) = delete;

  // The record of a sample in `pixel`, to fill; commit() keeps it.
  float *record(uint32_t pixel) {
    const float *cells = target_.sums + uint64_t(pixel) * stride_;
    prefetchForWrite(cells);
    prefetchForWrite(cells + stride_ - 1);
    pixels_[filled_] = pixel;
    return values_ + uint64_t(filled_) * stride_;
  }
  void commit() {
    if (++filled_ == kBatch)
      flush();
  }

private:
  static constexpr uint32_t kBatch = 128;

  // Flags the tiles that a record's cells lie in (at most two: a record is shorter than a tile).
  void markRecord(float *cells) const {
    float *last = cells + stride_ - 1;
    if (target_.privateDirty) {
      target_.privateDirty[uint64_t(cells - target_.sums) >> PrivateCells<float>::kTileShift] = 1;
      target_.privateDirty[uint64_t(last - target_.sums) >> PrivateCells<float>::kTileShift] = 1;
    } else if (target_.atomic) {
      target_.sharedTiles->markForAtomicAdd(cells);
      target_.sharedTiles->markForAtomicAdd(last);
    } else {
      target_.sharedTiles->mark(cells);
      target_.sharedTiles->mark(last);
    }
  }

  void flush() {
    for (uint32_t n = 0; n < filled_; ++n) {
      float *cells = target_.sums + uint64_t(pixels_[n]) * stride_;
      const float *values = values_ + uint64_t(n) * stride_;
      markRecord(cells);
      if (target_.atomic)
        for (uint32_t k = 0; k < stride_; ++k)
          atomicAddFloat(cells + k, values[k]);
      else
        for (uint32_t k = 0; k < stride_; ++k)
          cells[k] += values[k];
    }
    filled_ = 0;
  }

  const LayerSumsTarget target_;
  const uint32_t stride_;
  uint32_t pixels_[kBatch];
  float values_[kBatch * kMaxLayerStride];
  uint32_t filled_ = 0;
};

// The private copies of parts 1 and on, kept between launches (all zero, no tile flagged, between
// them).
class LayerPartSums {
public:
  // Readies the copies of `parts` parts of sums `floats` floats long; false where they would pass
  // the budget (then every part adds atomically into the shared sums). Throws std::bad_alloc when
  // memory runs out.
  bool fit(unsigned parts, uint64_t floats) {
    const uint64_t copies = parts > 1 ? parts - 1 : 0;
    if (copies * floats * sizeof(float) > kPrivateLayerSumsBudget)
      return false;
    if (copies > copies_.size())
      copies_.resize(copies);
    for (uint64_t i = 0; i < copies; ++i)
      copies_[i].fit(floats);
    return true;
  }

  // Where part `part` of accumulateSamples adds (kSharedPart: every worker at once), with
  // `privates` whether fit() gave the parts their copies.
  LayerSumsTarget targetOf(unsigned part, bool privates, float *shared,
                           const DirtyTiles &sharedTiles) {
    if (!privates || part == kSharedPart)
      return {shared, nullptr, &sharedTiles, true};
    if (part == 0)
      return {shared, nullptr, &sharedTiles, false};
    PrivateCells<float> &copy = copies_[part - 1];
    return {copy.cells(), copy.dirty(), &sharedTiles, false};
  }

  // Adds the copies of parts 1 .. parts - 1 into the shared sums in part order, and clears them.
  // A tile no sample reached holds zeros, and adding +0 changes no sum.
  void merge(WorkerPool &pool, unsigned parts, float *shared, const DirtyTiles &sharedTiles,
             uint64_t floats) {
    const uint64_t copies = parts > 1 ? std::min<uint64_t>(parts - 1, copies_.size()) : 0;
    if (copies == 0)
      return;
    const uint64_t tiles = PrivateCells<float>::tilesOf(floats);
    pool.parallelFor(tiles, pool.chunkFor(tiles, 4), [&](uint64_t begin, uint64_t end, unsigned) {
      for (uint64_t tile = begin; tile < end; ++tile) {
        const uint64_t first = tile << PrivateCells<float>::kTileShift;
        const uint64_t last =
            std::min(floats, first + (uint64_t(1) << PrivateCells<float>::kTileShift));
        for (uint64_t i = 0; i < copies; ++i) {
          PrivateCells<float> &copy = copies_[i];
          if (!copy.dirty()[tile])
            continue;
          copy.dirty()[tile] = 0;
          mergePrivateCells(shared + first, copy.cells() + first, last - first, sharedTiles);
        }
      }
    });
  }

private:
  std::vector<PrivateCells<float>> copies_;
};

} // namespace ek
