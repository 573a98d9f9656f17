// Conversion of single-precision floats to IEEE 754 half floats (binary16), rounding to nearest
// with ties to even. Every NaN becomes the one quiet NaN 0x7E00 with its sign kept; magnitudes that
// round above 65504 become infinity.
#pragma once

#include <bit>
#include <cstdint>

namespace ek::image {

constexpr uint16_t kHalfInfinity = 0x7C00;
constexpr uint16_t kHalfQuietNaN = 0x7E00;

// Reference conversion, one value at a time, working on the bit fields only. The line converter of
// the EXR writer gives the same results faster.
constexpr uint16_t floatToHalf(float value) {
  const uint32_t f = std::bit_cast<uint32_t>(value);
  const uint32_t sign = (f >> 16) & 0x8000u;
  const uint32_t exponent = (f >> 23) & 0xFFu;
  const uint32_t mantissa = f & 0x7FFFFFu;
  const int e = static_cast<int>(exponent) - 112; // half exponent field for a normal result

  if (exponent == 0xFF) {
    return static_cast<uint16_t>(sign | (mantissa == 0 ? kHalfInfinity : kHalfQuietNaN));
  }
  if (e >= 31) {
    return static_cast<uint16_t>(sign | kHalfInfinity);
  }
  if (e > 0) {
    uint32_t h = sign | (static_cast<uint32_t>(e) << 10) | (mantissa >> 13);
    const uint32_t rest = mantissa & 0x1FFFu;
    if (rest > 0x1000u || (rest == 0x1000u && (h & 1u) != 0)) {
      ++h; // a carry out of the mantissa raises the exponent, up to infinity
    }
    return static_cast<uint16_t>(h);
  }
  if (e >= -10) {
    const uint32_t full = mantissa | 0x800000u;
    const int shift = 14 - e;
    uint32_t v = full >> shift;
    const uint32_t rest = full & ((1u << shift) - 1u);
    const uint32_t half = 1u << (shift - 1);
    if (rest > half || (rest == half && (v & 1u) != 0)) {
      ++v;
    }
    return static_cast<uint16_t>(sign | v);
  }
  return static_cast<uint16_t>(sign);
}

} // namespace ek::image
