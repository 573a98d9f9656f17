// A worker's private accumulation image on the CPU (or a part's private layer sums), kept between
// launches. Its memory comes zeroed from the system, which maps it only where it is first written,
// and one flag per tile says whether a sample landed there since the last merge. A sparse frame (a
// few thousand particles over a large image) thus neither touches nor merges the whole image. A
// layered splat's extra sums per pixel lie beside the image, under the same flags.
#pragma once

#include <cstdint>
#include <vector>

#include "cpu/dirty_tiles.h"
#include "cpu/page_array.h"
#include "kernels/additive.h"

namespace ek {

// Private cells of any plain type: RGBA sums, or the floats of layer sums.
template <typename Cell> class PrivateCells {
public:
  // One flag per tile of a page (4 KiB) of cells.
  static constexpr uint32_t kTileShift = [] {
    uint32_t shift = 0;
    while ((sizeof(Cell) << shift) < 4096)
      ++shift;
    return shift;
  }();
  static_assert((sizeof(Cell) << kTileShift) == 4096, "a tile is a page of cells");

  // Makes the image `count` cells with `extra` extra sums each, all zero, unless it already is
  // that size (then it is left as it is: zero outside the tiles flagged). The extra sums are kept
  // when fewer are asked for. Throws std::bad_alloc when memory runs out.
  void fit(uint64_t count, uint32_t extra = 0) {
    if (count != cells_.size()) {
      dirty_.clear();
      extraSums_.resize(0);
      cells_.resize(count);
      dirty_.assign(size_t(tilesOf(count)), 0);
    }
    if (extraSums_.size() < count * extra)
      extraSums_.resize(count * extra);
  }

  Cell *cells() const { return cells_.data(); }
  float *extraSums() const { return extraSums_.data(); }
  uint8_t *dirty() { return dirty_.data(); }

  static uint64_t tilesOf(uint64_t count) {
    return (count >> kTileShift) + ((count & ((uint64_t(1) << kTileShift) - 1)) != 0);
  }

private:
  PageArray<Cell> cells_;
  PageArray<float> extraSums_;
  std::vector<uint8_t> dirty_;
};

using PrivateImage = PrivateCells<Rgba32f>;

inline float cellSum(float a, float b) { return a + b; }
inline Rgba32f cellSum(const Rgba32f &a, const Rgba32f &b) {
  return {a.r + b.r, a.g + b.g, a.b + b.b, a.a + b.a};
}

// Adds `count` cells of a private copy into the shared sums, cell by cell, and clears them. Shared
// cells in clean tiles are all zero: they are not read, which keeps a page the system has not
// mapped yet from being faulted in only to be read.
template <typename Cell>
void mergePrivateCells(Cell *shared, Cell *copy, uint64_t count, const DirtyTiles &sharedTiles) {
  const uint64_t bytes = count * sizeof(Cell);
  const bool zero = !sharedTiles.anyDirty(shared, bytes);
  sharedTiles.markRange(shared, bytes);
  for (uint64_t i = 0; i < count; ++i) {
    shared[i] = cellSum(zero ? Cell{} : shared[i], copy[i]);
    copy[i] = Cell{};
  }
}

} // namespace ek
