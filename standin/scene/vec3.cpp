#include "scene/vec3.h"

namespace standin {

Matrix lookAt(Vec3 eye, Vec3 target, Vec3 up) {
  Matrix m;
  m.offset = eye;
  const Vec3 z = normalized(target - eye);
  if (length(z) == 0.0) {
    return m;
  }
  Vec3 x = normalized(cross(up, z));
  if (length(x) == 0.0) { // up parallel to the view direction: pick any perpendicular axis
    x = normalized(cross(Vec3{0.0, 0.0, 1.0}, z));
    if (length(x) == 0.0) {
      x = Vec3{1.0, 0.0, 0.0};
    }
  }
  m.axisX = x;
  m.axisY = cross(z, x);
  m.axisZ = z;
  return m;
}

} // namespace standin
