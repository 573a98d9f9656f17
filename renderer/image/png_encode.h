// The PNG writer's pixel conversion, row filtering and size limit, shared with tests, benchmarks
// and (the size limit) applications.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/zlib_stream.h"

namespace ek::image {

// PNG filter types, in the order in which they are tried.
enum PngFilter : uint8_t {
  kFilterNone = 0,
  kFilterSub = 1,
  kFilterUp = 2,
  kFilterAverage = 3,
  kFilterPaeth = 4,
};
constexpr std::size_t kPngFilterCount = 5;

// Bytes per pixel: RGBA with one or two bytes per channel.
constexpr std::size_t pngBytesPerPixel(bool sixteenBit) { return sixteenBit ? 8 : 4; }

// Size of the filtered image: one filter byte and width × bytes-per-pixel bytes for each row,
// computed in 64 bits.
constexpr uint64_t pngFilteredSize(int32_t width, int32_t height, bool sixteenBit) {
  const uint64_t rowBytes = static_cast<uint64_t>(width) * pngBytesPerPixel(sixteenBit);
  return static_cast<uint64_t>(height) * (rowBytes + 1);
}

// Whether ekSavePNG takes an image of this size (width, height >= 1): its filtered image must fit
// the compressor in one piece. Applications may ask before they render.
constexpr bool pngSizeSupported(int32_t width, int32_t height, bool sixteenBit) {
  return pngFilteredSize(width, height, sixteenBit) <= kMaxZlibInput;
}

// Converts one row of premultiplied linear RGBA floats into PNG samples: alpha clamped to [0, 1]
// (NaN as 0); colour divided by alpha when alpha > 1e-6 (else 0), clamped to [0, 1] (NaN as 0) and
// gamma encoded; 8-bit samples or big-endian 16-bit samples.
void convertPngRow(const float *rgba, std::size_t width, bool sixteenBit, uint8_t *out);

// Cost of each filter type on one row: the sum of the filtered bytes' magnitudes read as signed
// bytes. `previous` is the unfiltered row above, or null for the first row.
std::array<uint64_t, kPngFilterCount> pngFilterCosts(const uint8_t *row, const uint8_t *previous,
                                                     std::size_t length, std::size_t bpp);

// Filters one row with the cheapest filter type (the lowest type among equal costs) and writes the
// type byte followed by the `length` filtered bytes to `out`. Returns the type.
PngFilter filterPngRow(const uint8_t *row, const uint8_t *previous, std::size_t length,
                       std::size_t bpp, uint8_t *out);

// Converts and filters a whole image (width, height >= 1) into pngFilteredSize bytes, row by row
// from the top, keeping only the current and the previous unfiltered row.
std::unique_ptr<uint8_t[]> filterPngImage(const float *rgba, int32_t width, int32_t height,
                                          bool sixteenBit);

} // namespace ek::image
