#include "camera_setup.h"

#include <algorithm>
#include <cmath>

namespace ekrender {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The default view looks down on the particles from above the front, at the distance where
// their bounding sphere fills the field of view.
constexpr double kElevation = 0.45;
constexpr double kMargin = 0.85;
// Sine of the angle below which the up direction counts as parallel to the view.
constexpr double kParallel = 1e-6;

// Rotates v about the unit axis by angle (Rodrigues).
EKV3 rotate(const EKV3 &v, const EKV3 &axis, double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  const double dot = axis.x * v.x + axis.y * v.y + axis.z * v.z;
  const EKV3 cross{axis.y * v.z - axis.z * v.y, axis.z * v.x - axis.x * v.z,
                   axis.x * v.y - axis.y * v.x};
  return {float(v.x * c + cross.x * s + axis.x * dot * (1 - c)),
          float(v.y * c + cross.y * s + axis.y * dot * (1 - c)),
          float(v.z * c + cross.z * s + axis.z * dot * (1 - c))};
}

} // namespace

Bounds boundsOf(const std::vector<EKV3> &positions) {
  Bounds b;
  bool any = false;
  for (const EKV3 &p : positions) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
      continue;
    if (!any)
      b = {p, p};
    any = true;
    b.min = {std::min(b.min.x, p.x), std::min(b.min.y, p.y), std::min(b.min.z, p.z)};
    b.max = {std::max(b.max.x, p.x), std::max(b.max.y, p.y), std::max(b.max.z, p.z)};
  }
  return b;
}

std::string cameraProblem(const EKCamera &camera) {
  const double f[3] = {double(camera.target.x) - camera.eye.x,
                       double(camera.target.y) - camera.eye.y,
                       double(camera.target.z) - camera.eye.z};
  const double u[3] = {camera.up.x, camera.up.y, camera.up.z};
  const double side[3] = {f[1] * u[2] - f[2] * u[1], f[2] * u[0] - f[0] * u[2],
                          f[0] * u[1] - f[1] * u[0]};
  auto length = [](const double v[3]) {
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  };
  if (length(f) == 0)
    return "the eye and the target are the same point: the camera looks nowhere";
  if (length(u) == 0)
    return "the up direction is zero: give one with --up";
  if (length(side) <= kParallel * length(f) * length(u))
    return "the up direction is parallel to the view: give another with --up";
  return std::string();
}

EKCamera cameraFor(const Options &options, const Bounds &bounds, int frame, int frames) {
  EKCamera camera{};
  const EKV3 centre{(bounds.min.x + bounds.max.x) / 2, (bounds.min.y + bounds.max.y) / 2,
                    (bounds.min.z + bounds.max.z) / 2};
  camera.target = options.targetGiven ? options.target : centre;
  camera.up = options.up;
  camera.fovY = options.fovY;
  if (options.eyeGiven) {
    camera.eye = options.eye;
  } else {
    const double dx = bounds.max.x - bounds.min.x, dy = bounds.max.y - bounds.min.y,
                 dz = bounds.max.z - bounds.min.z;
    const double radius = std::max(0.5 * std::sqrt(dx * dx + dy * dy + dz * dz), 1e-3);
    const double halfFov = std::clamp(double(options.fovY), 1.0, 170.0) * kPi / 360.0;
    const double distance = kMargin * radius / std::tan(halfFov);
    const double norm = std::sqrt(1 + kElevation * kElevation);
    camera.eye = {camera.target.x, float(camera.target.y + distance * kElevation / norm),
                  float(camera.target.z + distance / norm)};
  }
  if (frames > 1) {
    const double length =
        std::sqrt(double(camera.up.x) * camera.up.x + double(camera.up.y) * camera.up.y +
                  double(camera.up.z) * camera.up.z);
    const EKV3 axis = length > 0 ? EKV3{float(camera.up.x / length), float(camera.up.y / length),
                                        float(camera.up.z / length)}
                                 : EKV3{0, 1, 0};
    const EKV3 offset{camera.eye.x - camera.target.x, camera.eye.y - camera.target.y,
                      camera.eye.z - camera.target.z};
    const EKV3 turned = rotate(offset, axis, 2 * kPi * frame / frames);
    camera.eye = {camera.target.x + turned.x, camera.target.y + turned.y,
                  camera.target.z + turned.z};
  }
  camera.focusDistance = options.focusDistance;
  camera.aperture = options.aperture;
  if (options.spherical) {
    camera.projection = EK_PROJECTION_SPHERICAL;
    camera.lonMin = options.lonMin;
    camera.lonMax = options.lonMax;
    camera.latMin = options.latMin;
    camera.latMax = options.latMax;
    camera.eyeOffset = options.eyeOffset;
    camera.zeroParallaxDistance = options.zeroParallax;
    camera.stereoPivotOffset = options.pivotOffset;
    camera.topMergeExponent = camera.bottomMergeExponent = 1;
  }
  return camera;
}

std::array<float, 16> worldToCamera(const EKCamera &camera) {
  const auto unit = [](double x, double y, double z) {
    const double length = std::sqrt(x * x + y * y + z * z);
    return std::array<double, 3>{x / length, y / length, z / length};
  };
  const auto cross = [](const std::array<double, 3> &a, const std::array<double, 3> &b) {
    return std::array<double, 3>{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                                 a[0] * b[1] - a[1] * b[0]};
  };
  const std::array<double, 3> eye{camera.eye.x, camera.eye.y, camera.eye.z};
  const std::array<double, 3> forward =
      unit(camera.target.x - eye[0], camera.target.y - eye[1], camera.target.z - eye[2]);
  const std::array<double, 3> sideways = cross(forward, {camera.up.x, camera.up.y, camera.up.z});
  const std::array<double, 3> right = unit(sideways[0], sideways[1], sideways[2]);
  const std::array<double, 3> up = cross(right, forward);
  // Each column holds one camera axis; the last row moves the eye to the origin.
  const std::array<double, 3> back{-forward[0], -forward[1], -forward[2]};
  const std::array<double, 3> *axes[3] = {&right, &up, &back};
  std::array<float, 16> matrix{};
  for (int column = 0; column < 3; ++column) {
    const std::array<double, 3> &axis = *axes[column];
    for (int row = 0; row < 3; ++row)
      matrix[row * 4 + column] = float(axis[row]);
    matrix[12 + column] = float(-(eye[0] * axis[0] + eye[1] * axis[1] + eye[2] * axis[2]));
  }
  matrix[15] = 1.0f;
  return matrix;
}

std::optional<std::array<float, 16>> worldToNDC(const EKCamera &camera, int width, int height) {
  if (camera.projection == EK_PROJECTION_SPHERICAL)
    return std::nullopt;
  // The renderer's pinhole: a camera-space point (x, y, z) lands at
  // (x / -z * scaleX / 2 + 1/2, 1/2 - y / -z * scaleY / 2) of the image's width and height.
  const double scaleY = 1.0 / std::tan(double(camera.fovY) * kPi / 360.0);
  const double scaleX = scaleY * double(height) / double(width);
  const double projection[16] = {0.5 * scaleX, 0, 0, 0, 0, -0.5 * scaleY, 0, 0, -0.5, -0.5, 0,
                                 -1,           0, 0, 1, 0};
  const std::array<float, 16> view = worldToCamera(camera);
  std::array<float, 16> matrix{};
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 4; ++column) {
      double sum = 0;
      for (int k = 0; k < 4; ++k)
        sum += double(view[row * 4 + k]) * projection[k * 4 + column];
      matrix[row * 4 + column] = float(sum);
    }
  return matrix;
}

} // namespace ekrender
