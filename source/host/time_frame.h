// The frame of a time that the host keeps as a fraction of seconds, in exact integer arithmetic.
// Header only: the plug-in and the stand-in host count frames the same way.
#pragma once

#include <cstdint>
#include <limits>

namespace ek::host {

// The frame `numerator / denominator` seconds fall in at `fps` frames per second: the product
// rounded toward minus infinity, exactly (a floating-point product such as 29/25 s x 25 gives
// 28.999999999999996 and would name the frame before). Frames beyond the 32-bit range stay at its
// ends; a denominator of 0 or a rate below 1 gives frame 0.
constexpr int32_t frameOfTime(int64_t numerator, int64_t denominator, int32_t fps) {
  if (denominator == 0 || fps < 1) {
    return 0;
  }
  // Magnitudes in unsigned arithmetic, so that the most negative numbers have one too.
  const bool negative = (numerator < 0) != (denominator < 0);
  const uint64_t n = numerator < 0 ? 0 - uint64_t(numerator) : uint64_t(numerator);
  const uint64_t d = denominator < 0 ? 0 - uint64_t(denominator) : uint64_t(denominator);
  const uint64_t rate = uint64_t(fps);
  const uint64_t whole = n / d;
  constexpr uint64_t kBeyondFrames = uint64_t(1) << 32;
  if (whole >= kBeyondFrames) {
    return negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
  }
  // (n mod d) x rate / d, one bit of the rate at a time: remainders stay below 2d, so nothing
  // overflows 64 bits whatever the denominator.
  const uint64_t part = n % d;
  uint64_t quotient = 0;
  uint64_t remainder = 0;
  for (int bit = 31; bit >= 0; --bit) {
    quotient *= 2;
    remainder *= 2;
    if (remainder >= d) {
      ++quotient;
      remainder -= d;
    }
    if ((rate >> bit) & 1) {
      remainder += part;
      if (remainder >= d) {
        ++quotient;
        remainder -= d;
      }
    }
  }
  const int64_t below = int64_t(whole * rate + quotient);
  const int64_t frame = negative ? -below - (remainder != 0 ? 1 : 0) : below;
  constexpr int64_t kFirst = std::numeric_limits<int32_t>::min();
  constexpr int64_t kLast = std::numeric_limits<int32_t>::max();
  return int32_t(frame < kFirst ? kFirst : frame > kLast ? kLast : frame);
}

} // namespace ek::host
