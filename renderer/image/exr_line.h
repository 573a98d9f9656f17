// Pixel data of one EXR scan line block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ek::image {

// Converts one row of `width` RGBA float pixels into the channel-by-channel half-float layout of an
// EXR scan line: all A values, then all B, G and R values, each half little-endian, 8 × width bytes
// in all. Values are converted as they are (floatToHalf), without clamping.
void encodeExrLine(const float* rgba, std::size_t width, uint8_t* out);

} // namespace ek::image
