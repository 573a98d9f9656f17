// Small vector and matrix types of the stand-in's scenes.
#pragma once

#include <cmath>

namespace standin {

struct Vec3 {
  double x = 0.0, y = 0.0, z = 0.0;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(Vec3 a) { return std::sqrt(dot(a, a)); }
inline Vec3 normalized(Vec3 a) {
  const double l = length(a);
  return l > 0.0 ? a * (1.0 / l) : a;
}

// A global matrix: offset and axes in the host's left-handed frame (x right, y up, z forward).
struct Matrix {
  Vec3 offset;
  Vec3 axisX{1.0, 0.0, 0.0};
  Vec3 axisY{0.0, 1.0, 0.0};
  Vec3 axisZ{0.0, 0.0, 1.0};
};

// The matrix of an object at `eye` whose z axis points at `target`, with y as close to `up` as
// the direction allows.
Matrix lookAt(Vec3 eye, Vec3 target, Vec3 up);

} // namespace standin
