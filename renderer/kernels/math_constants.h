// The numbers the host side and the kernels share, each in the single-precision value both use.
#pragma once

namespace ek {

constexpr float kPi = 3.1415927f;
constexpr float kHalfPi = 1.57079637f;
constexpr float kTwoPi = 6.28318548f;
constexpr float kInvTwoPi = 0.159154937f;
constexpr float kRadiansPerDegree = 0.017453292f;
constexpr float kColorScale = 0.00392156886f; // 1/255: colour bytes to [0, 1]
constexpr float kLargestFloat = 3.40282347e+38f;

} // namespace ek
