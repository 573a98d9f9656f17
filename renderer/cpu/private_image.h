// A worker's private accumulation image on the CPU, kept between launches. Its memory comes zeroed
// from the system, which maps it only where it is first written, and one flag per tile says
// whether a sample landed there since the last merge. A sparse frame (a few thousand particles over
// a large image) thus neither touches nor merges the whole image.
#pragma once

#include <cstdint>
#include <new>
#include <vector>

#include "cpu/zeroed_pages.h"
#include "kernels/additive.h"

namespace ek {

class PrivateImage {
public:
  static constexpr uint32_t kTileShift = 8; // 256 pixels, a page of the image, per flag

  // Makes the image `pixels` pixels, all zero, unless it already is that size (then it is left as
  // it is: zero outside the tiles flagged). Throws std::bad_alloc when memory runs out.
  void fit(uint64_t pixels) {
    if (pixels == pixels_)
      return;
    dirty_.clear();
    pixels_ = 0;
    if (pixels > UINT64_MAX / sizeof(Rgba32f) || !cells_.allocate(pixels * sizeof(Rgba32f)))
      throw std::bad_alloc();
    dirty_.assign(size_t(tilesOf(pixels)), 0);
    pixels_ = pixels;
  }

  Rgba32f *cells() const { return reinterpret_cast<Rgba32f *>(cells_.data()); }
  uint8_t *dirty() { return dirty_.data(); }

  static uint64_t tilesOf(uint64_t pixels) {
    return (pixels >> kTileShift) + ((pixels & ((uint64_t(1) << kTileShift) - 1)) != 0);
  }

private:
  ZeroedPages cells_;
  std::vector<uint8_t> dirty_;
  uint64_t pixels_ = 0;
};

} // namespace ek
