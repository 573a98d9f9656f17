// A worker's private accumulation image on the CPU, kept between launches. Its memory comes zeroed
// from the system, which maps it only where it is first written, and one flag per tile says
// whether a sample landed there since the last merge. A sparse frame (a few thousand particles over
// a large image) thus neither touches nor merges the whole image. A layered splat's extra sums per
// pixel lie beside it, under the same flags.
#pragma once

#include <cstdint>
#include <vector>

#include "cpu/page_array.h"
#include "kernels/additive.h"

namespace ek {

class PrivateImage {
public:
  static constexpr uint32_t kTileShift = 8; // 256 pixels, a page of the image, per flag

  // Makes the image `pixels` pixels with `extra` extra sums each, all zero, unless it already is
  // that size (then it is left as it is: zero outside the tiles flagged). The extra sums are kept
  // when fewer are asked for. Throws std::bad_alloc when memory runs out.
  void fit(uint64_t pixels, uint32_t extra = 0) {
    if (pixels != cells_.size()) {
      dirty_.clear();
      extraSums_.resize(0);
      cells_.resize(pixels);
      dirty_.assign(size_t(tilesOf(pixels)), 0);
    }
    if (extraSums_.size() < pixels * extra)
      extraSums_.resize(pixels * extra);
  }

  Rgba32f *cells() const { return cells_.data(); }
  float *extraSums() const { return extraSums_.data(); }
  uint8_t *dirty() { return dirty_.data(); }

  static uint64_t tilesOf(uint64_t pixels) {
    return (pixels >> kTileShift) + ((pixels & ((uint64_t(1) << kTileShift) - 1)) != 0);
  }

private:
  PageArray<Rgba32f> cells_;
  PageArray<float> extraSums_;
  std::vector<uint8_t> dirty_;
};

} // namespace ek
