#include "volume_setup.h"

#include "kernels/sampling.h"
#include "vector_math.h"

#include <algorithm>
#include <cmath>

namespace ek {

namespace {

constexpr int kDefaultMapSize = 512;
constexpr int kDefaultMapSlices = 64;
constexpr int kDefaultCameraSlices = 32;
constexpr float kMaxSpotHalfFov = 1.4835298f; // 85 degrees
constexpr float kSpotFovMargin = 1.05f;
constexpr float kCubeHalfFov = 0.7853982f; // 45 degrees
constexpr float kMaxAnisotropy = 0.95f;
constexpr int kCubeFaces = 6;

float halfAngleRadians(float degrees) { return degrees * 0.5f * kPi / 180.0f; }

struct Range {
  float smallest = kLargestFloat, largest = -kLargestFloat;
};

// The eight corners of the box on one matrix row (r0, r1, r2, r3).
Range projectCorners(const float *row, const Box &box) {
  Range range;
  for (int corner = 0; corner < 8; ++corner) {
    const float x = corner & 1 ? box.max.x : box.min.x;
    const float y = corner & 2 ? box.max.y : box.min.y;
    const float z = corner & 4 ? box.max.z : box.min.z;
    const float v = row[0] * x + row[1] * y + row[2] * z + row[3];
    range.smallest = std::min(range.smallest, v);
    range.largest = std::max(range.largest, v);
  }
  return range;
}

// Rows right, up and forward of a light looking along d from origin.
void lightView(const EKV3 &d, const EKV3 &origin, float *view) {
  const EKV3 helper = std::fabs(d.y) > 0.95f ? EKV3{1, 0, 0} : EKV3{0, 1, 0};
  const EKV3 right = normalizedIfLong(cross(helper, d));
  const EKV3 up = normalizedIfLong(cross(d, right));
  const EKV3 rows[3] = {right, up, d};
  for (int r = 0; r < 3; ++r) {
    view[r * 4 + 0] = rows[r].x;
    view[r * 4 + 1] = rows[r].y;
    view[r * 4 + 2] = rows[r].z;
    view[r * 4 + 3] = -dot(rows[r], origin);
  }
}

void perspectiveMap(const EKV3 &d, const EKV3 &origin, float halfFov, const Box &padded, int size,
                    int slices, ShadowMap &map) {
  lightView(d, origin, map.view);
  map.ortho = 0;
  map.scaleX = map.scaleY = 1.0f / std::tan(halfFov);
  const EKV3 diagonal{padded.max.x - padded.min.x, padded.max.y - padded.min.y,
                      padded.max.z - padded.min.z};
  const float eps = std::max(std::sqrt(dot(diagonal, diagonal)) * 0.001f, 0.001f);
  map.nearClip = eps;
  const Range depth = projectCorners(map.view + 8, padded);
  const float nearDepth = std::max(depth.smallest, eps);
  const float farDepth = std::max(depth.largest, nearDepth + eps);
  map.size = size;
  map.slices = slices;
  map.logDepth = 1;
  map.depthStart = nearDepth;
  map.depthScale = float(slices) / std::max(std::log(farDepth / nearDepth), 0.001f);
  const float texel = 2.0f / (float(size) * map.scaleX);
  map.texelArea = texel * texel;
}

void orthoMap(const EKV3 &d, const Box &padded, int size, int slices, ShadowMap &map) {
  const EKV3 centre{(padded.min.x + padded.max.x) / 2, (padded.min.y + padded.max.y) / 2,
                    (padded.min.z + padded.max.z) / 2};
  lightView(d, centre, map.view);
  map.ortho = 1;
  const Range right = projectCorners(map.view + 0, padded);
  const Range up = projectCorners(map.view + 4, padded);
  const Range forward = projectCorners(map.view + 8, padded);
  const float hx = std::max({std::fabs(right.largest), std::fabs(right.smallest), 0.001f}) * 1.01f;
  const float hy = std::max({std::fabs(up.smallest), std::fabs(up.largest), 0.001f}) * 1.01f;
  map.scaleX = 1.0f / hx;
  map.scaleY = 1.0f / hy;
  map.nearClip = 0.0f;
  map.size = size;
  map.slices = slices;
  map.logDepth = 0;
  map.depthStart = forward.smallest;
  map.depthScale = float(slices) / std::max(forward.largest - forward.smallest, 0.001f);
  map.texelArea = (2.0f * hx / float(size)) * (2.0f * hy / float(size));
}

VolLight convertLight(const EKLight &light, int32_t firstMap) {
  VolLight out{};
  out.type = light.type;
  out.position[0] = light.position.x;
  out.position[1] = light.position.y;
  out.position[2] = light.position.z;
  const EKV3 direction = normalizedIfLong(light.direction);
  out.direction[0] = direction.x;
  out.direction[1] = direction.y;
  out.direction[2] = direction.z;
  std::copy(light.color, light.color + 3, out.color);
  // The inner angle is limited by the raw outer angle, the outer one to 0.1 .. 175 degrees.
  out.cosInner =
      std::cos(halfAngleRadians(std::min(std::max(light.innerAngle, 0.0f), light.outerAngle)));
  out.cosOuter = std::cos(halfAngleRadians(std::min(std::max(light.outerAngle, 0.1f), 175.0f)));
  out.falloff = light.falloff;
  out.falloffRadius = light.falloffRadius;
  out.falloffInner = light.falloffInner;
  out.firstMap = firstMap;
  out.mapCount = 0;
  return out;
}

void cameraDepthRange(const EKCamera &camera, const Frame &frame, const Box &padded,
                      VolumeConstants &out) {
  float nearDepth, farDepth;
  if (frame.projection == EK_PROJECTION_SPHERICAL) {
    const float margin = std::fabs(frame.stereoPivotOffset) + std::fabs(frame.eyeOffset);
    const float eye[3] = {camera.eye.x, camera.eye.y, camera.eye.z};
    const float lo[3] = {padded.min.x, padded.min.y, padded.min.z};
    const float hi[3] = {padded.max.x, padded.max.y, padded.max.z};
    float nearSquared = 0, farSquared = 0;
    for (int a = 0; a < 3; ++a) {
      const float outside = std::max({lo[a] - eye[a], 0.0f, eye[a] - hi[a]});
      const float farthest = std::max(std::fabs(lo[a] - eye[a]), std::fabs(hi[a] - eye[a]));
      nearSquared += outside * outside;
      farSquared += farthest * farthest;
    }
    nearDepth = std::max(std::sqrt(nearSquared) - margin, frame.nearClip);
    farDepth = std::sqrt(farSquared) + margin;
  } else {
    const float forward[4] = {-frame.view[8], -frame.view[9], -frame.view[10], -frame.view[11]};
    const Range range = projectCorners(forward, padded);
    nearDepth = std::max(range.smallest, frame.nearClip);
    farDepth = range.largest;
  }
  farDepth = std::max(farDepth, nearDepth + 0.001f);
  out.camDepthStart = nearDepth;
  out.camDepthScale = float(out.camSlices) / (farDepth - nearDepth);
}

} // namespace

Box robustBox(const double moments[6], uint64_t count, const Box &padded) {
  Box box = padded;
  if (count < 2)
    return box;
  const float padLo[3] = {padded.min.x, padded.min.y, padded.min.z};
  const float padHi[3] = {padded.max.x, padded.max.y, padded.max.z};
  float *lo[3] = {&box.min.x, &box.min.y, &box.min.z};
  float *hi[3] = {&box.max.x, &box.max.y, &box.max.z};
  const double n = double(count);
  for (int a = 0; a < 3; ++a) {
    const double mean = moments[a] / n;
    const double variance = std::max(moments[3 + a] / n - mean * mean, 0.0);
    const double spread = 2.0 * std::sqrt(variance);
    const float low = std::max(padLo[a], float(mean - spread));
    const float high = std::min(padHi[a], float(mean + spread));
    if (high - low < 0.001f)
      continue;
    *lo[a] = low;
    *hi[a] = high;
  }
  return box;
}

uint64_t buildVolumeConstants(const EKCamera &camera, const EKRenderSettings &settings,
                              const Frame &frame, const EKLight *lights, int32_t lightCount,
                              const Box &padded, float densityScale, VolumeConstants &out) {
  const int size = settings.shadowMapSize > 8 ? settings.shadowMapSize : kDefaultMapSize;
  const int slices = settings.shadowSlices > 1 ? settings.shadowSlices : kDefaultMapSlices;

  out.lightSampleArea = std::max(densityScale, 0.0f) / float(copiesPerParticle(frame.repopulation));
  out.camSampleArea = out.lightSampleArea / float(frame.samples);
  out.emission = settings.emission;
  std::copy(settings.ambient, settings.ambient + 3, out.ambient);
  out.anisotropy = std::clamp(settings.scattering, -kMaxAnisotropy, kMaxAnisotropy);
  out.cameraPosition = camera.eye;
  out.camSlices = settings.cameraSlices > 1 ? settings.cameraSlices : kDefaultCameraSlices;
  cameraDepthRange(camera, frame, padded, out);

  out.lightCount = 0;
  out.shadowMapCount = 0;
  uint64_t total = 0;
  const int used = lights ? std::clamp(lightCount, 0, kMaxVolumeLights) : 0;
  auto addMap = [&]() -> ShadowMap & {
    ShadowMap &map = out.maps[out.shadowMapCount++];
    map.offset = total;
    // Absurd sizes saturate instead of wrapping to a small buffer the kernels would overrun;
    // no device can allocate the saturated total.
    const uint64_t texels = uint64_t(size) * uint64_t(size);
    const uint64_t floats = texels > UINT64_MAX / uint64_t(slices) ? UINT64_MAX : texels * slices;
    total = floats > UINT64_MAX - total ? UINT64_MAX : total + floats;
    return map;
  };
  for (int i = 0; i < used; ++i) {
    const EKLight &light = lights[i];
    VolLight &converted = out.lights[out.lightCount++];
    converted = convertLight(light, out.shadowMapCount);
    if (!light.castsShadows)
      continue;
    const EKV3 direction = fromArray(converted.direction);
    const EKV3 position = fromArray(converted.position);
    if (light.type == EK_LIGHT_DIRECTIONAL) {
      orthoMap(direction, padded, size, slices, addMap());
      converted.mapCount = 1;
    } else if (light.type == EK_LIGHT_SPOT) {
      const float outerHalf = halfAngleRadians(std::min(std::max(light.outerAngle, 0.1f), 175.0f));
      perspectiveMap(direction, position, std::min(outerHalf * kSpotFovMargin, kMaxSpotHalfFov),
                     padded, size, slices, addMap());
      converted.mapCount = 1;
    } else {
      static const EKV3 faces[kCubeFaces] = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                             {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
      for (const EKV3 &face : faces)
        perspectiveMap(face, position, kCubeHalfFov, padded, size, slices, addMap());
      converted.mapCount = kCubeFaces;
    }
  }
  return total;
}

} // namespace ek
