// Small vector helpers of the host-side planning code (frame and volume constants).
#pragma once

#include <cmath>

#include "emberkit.h"

namespace ek {

inline EKV3 subtract(const EKV3 &a, const EKV3 &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline float dot(const EKV3 &a, const EKV3 &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline EKV3 cross(const EKV3 &a, const EKV3 &b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// Divides by the length when it is above 0; a zero vector stays zero.
inline EKV3 normalizedIfLong(const EKV3 &v) {
  const float length = std::sqrt(dot(v, v));
  return length > 0.0f ? EKV3{v.x / length, v.y / length, v.z / length} : v;
}
inline EKV3 fromArray(const float *v) { return {v[0], v[1], v[2]}; }

} // namespace ek
