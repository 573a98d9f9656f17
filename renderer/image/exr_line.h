// Pixel data of one EXR scan line block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ek::image {

// Converts one row of `width` RGBA float pixels into the channel-by-channel half-float layout of an
// EXR scan line: all A values, then all B, G and R values, each half little-endian, 8 × width bytes
// in all. Values are converted as they are (floatToHalf), without clamping.
void encodeExrLine(const float *rgba, std::size_t width, uint8_t *out);

// The ways of converting a line, fastest last. encodeExrLine takes the fastest that the processor
// and the calling thread's floating-point settings allow; all give the same bytes.
enum class HalfConversion { kScalar, kSse2, kF16c };

// encodeExrLine with a chosen conversion, so that each can be checked; false (nothing written)
// when it cannot run here and now.
bool encodeExrLineWith(HalfConversion conversion, const float *rgba, std::size_t width,
                       uint8_t *out);

// Converts `count` floats, each `stride` floats after the one before, into as many little-endian
// halves (floatToHalf), 2 × count bytes: one channel's row of a scan line block, taken from an
// interleaved image (stride 4 for RGBA) or from a plane of its own (stride 1).
void encodeHalfValues(const float *values, std::size_t stride, std::size_t count, uint8_t *out);

// encodeHalfValues with a chosen conversion; false (nothing written) when it cannot run here and
// now.
bool encodeHalfValuesWith(HalfConversion conversion, const float *values, std::size_t stride,
                          std::size_t count, uint8_t *out);

} // namespace ek::image
