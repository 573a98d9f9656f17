// The two camera models: perspective with a thin lens, and spherical latitude-longitude with an
// optional omni-directional stereo eye. Each sample lands in at most one pixel.
#pragma once

#include "kernels/sampling.h"

namespace ek {

struct CameraPoint {
  float x, y, z; // camera space: +x right, +y up, looking along -z
};

EK_HD CameraPoint toCamera(const Frame &f, const EKV3 &p) {
  const float *m = f.view;
  return {m[0] * p.x + m[1] * p.y + m[2] * p.z + m[3], m[4] * p.x + m[5] * p.y + m[6] * p.z + m[7],
          m[8] * p.x + m[9] * p.y + m[10] * p.z + m[11]};
}

struct PixelHit {
  int32_t ix, iy;
  float depth;      // perspective: -z; spherical: distance along the eye's ray
  float latitude;   // spherical only
  float horizontal; // spherical only: horizontal distance after the stereo eye
};

// Accepts a pixel position only inside the image; a not-a-number coordinate fails every test.
EK_HD bool placeInImage(const Frame &f, float px, float py, PixelHit &hit) {
  if (!(px >= 0.0f && px < float(f.width) && py >= 0.0f && py < float(f.height)))
    return false;
  hit.ix = int32_t(px);
  hit.iy = int32_t(py);
  return true;
}

EK_HD bool projectPerspective(const Frame &f, const CameraPoint &c, uint32_t &state,
                              PixelHit &hit) {
  const float depth = -c.z;
  if (f.nearClip >= depth)
    return false;
  const float inverseDepth = -1.0f / c.z;
  float xn = c.x * inverseDepth;
  float yn = c.y * inverseDepth;
  if (f.apertureRadius > 0.0f) {
    const float rho = f.apertureRadius * sqrtf(nextRandom(state));
    const float theta = kTwoPi * nextRandom(state);
    const float k = f.invFocusDistance - inverseDepth;
    xn += k * rho * cosf(theta);
    yn += k * rho * sinf(theta);
  }
  const float px = (xn * f.scaleX * 0.5f + 0.5f) * float(f.width);
  const float py = (1.0f - (yn * f.scaleY * 0.5f + 0.5f)) * float(f.height);
  hit.depth = depth;
  return placeInImage(f, px, py, hit);
}

// Fades the stereo eye offset towards the poles so the two eyes meet there.
EK_HD float poleMergeFade(const Frame &f, const CameraPoint &c, float horizontal) {
  if (f.topMergeMode == EK_MERGE_OFF && f.bottomMergeMode == EK_MERGE_OFF)
    return 1.0f;
  const float latitude = atan2f(c.y, horizontal);
  const bool north = latitude >= 0.0f; // not-a-number counts as south
  const int32_t mode = north ? f.topMergeMode : f.bottomMergeMode;
  const float angle = north ? f.topMergeAngle : f.bottomMergeAngle;
  const float exponent = north ? f.topMergeExponent : f.bottomMergeExponent;
  const float margin = kHalfPi - fabsf(latitude);
  if (mode == EK_MERGE_OFF || angle <= 0.0f || margin >= angle)
    return 1.0f;
  const float fraction = maxNumber(margin / angle, 0.0f);
  if (mode == EK_MERGE_POWER)
    return powf(fraction, exponent > 0.0f ? exponent : 1.0f);
  return fraction;
}

// Moves the ray origin onto the eye circle of an omni-directional stereo rig; replaces the
// longitude and the horizontal distance. Returns false when the point lies inside the eye circle.
EK_HD bool applyStereoEye(const Frame &f, const CameraPoint &c, float &longitude,
                          float &horizontal) {
  const float fade = poleMergeFade(f, c, horizontal);
  const float d = fabsf(f.eyeOffset) * fade;
  const float side = f.eyeOffset > 0.0f ? 1.0f : -1.0f;
  const float pivot = f.stereoPivotOffset;
  const float toeIn = f.zeroParallaxDistance > 0.0f ? atanf(d / f.zeroParallaxDistance) : 0.0f;
  const float sinToeIn = sinf(toeIn);
  const float cosToeIn = cosf(toeIn);
  const float h = side * (pivot * sinToeIn + d * cosToeIn);
  if (fabsf(h) >= horizontal)
    return false;
  longitude = longitude - asinf(h / horizontal) + side * toeIn;
  horizontal = sqrtf(horizontal * horizontal - h * h) + d * sinToeIn - pivot * cosToeIn;
  return true;
}

EK_HD bool projectSpherical(const Frame &f, const CameraPoint &c, PixelHit &hit) {
  float horizontal = sqrtf(c.x * c.x + c.z * c.z);
  float longitude = atan2f(c.x, -c.z);
  if (f.eyeOffset != 0.0f && !applyStereoEye(f, c, longitude, horizontal))
    return false;
  if (horizontal <= f.nearClip)
    return false;
  const float latitude = atan2f(c.y, horizontal);
  float u = longitude - f.lonMin;
  u = u - kTwoPi * floorf(u * kInvTwoPi);
  if (u >= f.lonSpan)
    return false;
  const float px = u / f.lonSpan * float(f.width);
  const float py = (f.latMax - latitude) / f.latSpan * float(f.height);
  hit.latitude = latitude;
  hit.horizontal = horizontal;
  hit.depth = sqrtf(horizontal * horizontal + c.y * c.y);
  return placeInImage(f, px, py, hit);
}

// Projects a world-space sample into a pixel; false when the sample is culled. A sample that is
// not finite is always culled: the spherical camera would otherwise place some infinite points.
EK_HD bool projectSample(const Frame &f, const EKV3 &world, uint32_t &state, PixelHit &hit,
                         CameraPoint &c) {
  if (!isFinitePoint(world))
    return false;
  c = toCamera(f, world);
  return f.projection == EK_PROJECTION_SPHERICAL ? projectSpherical(f, c, hit)
                                                 : projectPerspective(f, c, state, hit);
}

// Area of the pixel's footprint at the sample's depth, perpendicular to the viewing ray.
EK_HD float pixelCrossSection(const Frame &f, const CameraPoint &c, const PixelHit &hit) {
  if (f.projection == EK_PROJECTION_SPHERICAL)
    return f.pixelArea * hit.depth * hit.depth * maxNumber(cosf(hit.latitude), 0.0f);
  const float distance = sqrtf(c.x * c.x + c.y * c.y + c.z * c.z);
  return f.pixelArea * c.z * c.z * (hit.depth / distance);
}

} // namespace ek
