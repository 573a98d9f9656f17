// Render layers: the layer pass, which gathers per pixel what the beauty's samples give to the
// parts of its light and to its motion, and the layer resolve, which turns those sums, the
// beauty's own sums and the camera depth map into the layer images.
#pragma once

#include "kernels/launch_args.h"
#include "kernels/volume.h"

namespace ek {

constexpr float kDepthNothing = EK_DEPTH_NOTHING;
// A pixel whose alpha stays below this shows nothing in an 8-bit image, and has no depth.
constexpr float kVisibleAlpha = 1.0f / 255.0f;

// ---- motion ------------------------------------------------------------------------------------

// Pinhole image position of a world point in pixels, not limited to the image; false when it
// cannot be placed (not finite, or in front of the near clip). The spherical camera gives the
// position of its centre eye, with the longitude unwrapped.
EK_HD bool pinholePosition(const Frame &f, const EKV3 &world, float &px, float &py) {
  if (!isFinitePoint(world))
    return false;
  const CameraPoint c = toCamera(f, world);
  if (f.projection == EK_PROJECTION_SPHERICAL) {
    const float horizontal = sqrtf(c.x * c.x + c.z * c.z);
    px = atan2f(c.x, -c.z) / f.lonSpan * float(f.width);
    py = -atan2f(c.y, horizontal) / f.latSpan * float(f.height);
    return true;
  }
  if (f.nearClip >= -c.z)
    return false;
  const float inverseDepth = -1.0f / c.z;
  px = (c.x * inverseDepth * f.scaleX * 0.5f + 0.5f) * float(f.width);
  py = (1.0f - (c.y * inverseDepth * f.scaleY * 0.5f + 0.5f)) * float(f.height);
  return true;
}

// How far, in pixels, the image of a point at pixel (x, y) moves when the point moves to `to`;
// 0, 0 when `to` cannot be placed. Spherical longitudes take the short way round.
EK_HD void imageStep(const Frame &f, float x, float y, const EKV3 &to, float &u, float &v) {
  float toX, toY;
  if (!pinholePosition(f, to, toX, toY)) {
    u = v = 0.0f;
    return;
  }
  u = toX - x;
  v = toY - y;
  if (f.projection == EK_PROJECTION_SPHERICAL) {
    const float circle = kTwoPi / f.lonSpan * float(f.width);
    u -= circle * floorf(u / circle + 0.5f);
  }
}

// The image steps of a point at p moving by `velocity` per frame: forward u and v, backward u
// and v; all 0 when p cannot be placed.
EK_HD void motionSteps(const Frame &f, const EKV3 &p, const EKV3 &velocity,
                       float steps[kMotionStepFloats]) {
  float x, y;
  steps[0] = steps[1] = steps[2] = steps[3] = 0.0f;
  if (!pinholePosition(f, p, x, y))
    return;
  imageStep(f, x, y, {p.x + velocity.x, p.y + velocity.y, p.z + velocity.z}, steps[0], steps[1]);
  imageStep(f, x, y, {p.x - velocity.x, p.y - velocity.y, p.z - velocity.z}, steps[2], steps[3]);
}

// Adds a sample at p, moving by `velocity` per frame, with weight w to a pixel's motion sums.
template <typename Sink>
EK_HD void addMotion(const Frame &f, const EKV3 &p, const EKV3 &velocity, float w, float *sums,
                     Sink &sink) {
  float steps[kMotionStepFloats];
  motionSteps(f, p, velocity, steps);
  for (int k = 0; k < kMotionStepFloats; ++k)
    sink(sums + k, w * steps[k]);
  sink(sums + 4, w);
}

// ---- the layer pass ----------------------------------------------------------------------------
// The pass hands every addition to a sum to its sink, sink(address, value): the GPU adds at once,
// atomically; the CPU gathers a batch first and asks for the memory meanwhile.

struct AtomicSink {
  EK_HD void operator()(float *address, float value) const { atomicAddFloat(address, value); }
};

template <typename Sink>
EK_HD void addPart(float *sums, const float weighted[3], float r, float g, float b, Sink &sink) {
  sink(sums + 0, weighted[0] * r);
  sink(sums + 1, weighted[1] * g);
  sink(sums + 2, weighted[2] * b);
}

// A placed volumetric sample's parts, as shadeCameraSample splits its light: the ambient light,
// each light's share and the emission, each times the sample's weight and colour; and its motion,
// weighted by what it adds to its pixel's coverage. `lookups`, when given, holds the sample's
// shadowLookup for every light that casts shadows, made beforehand.
template <typename Sink>
EK_HD void addVolumeLayers(const LayerSplatArgs &a, const CameraSample &s,
                           const ShadowLookup *lookups, Sink &sink) {
  const VolumeConstants &vol = a.vol;
  const float weight = cameraSampleWeight(vol, s, a.cameraDepth);
  if (weight <= kMinWeight)
    return;
  const LayerPlan &plan = a.plan;
  float *sums = a.sums + uint64_t(s.pixel) * uint64_t(plan.stride);
  const Rgba8 color = a.colors[s.work.particle];
  const float weighted[3] = {weight * (float(color.r) * kColorScale),
                             weight * (float(color.g) * kColorScale),
                             weight * (float(color.b) * kColorScale)};
  if (plan.emission >= 0)
    addPart(sums + plan.emission, weighted, vol.emission, vol.emission, vol.emission, sink);
  if (plan.ambient >= 0)
    addPart(sums + plan.ambient, weighted, vol.ambient[0], vol.ambient[1], vol.ambient[2], sink);
  float view[3];
  towardsCamera(vol, s.position, view);
  for (int i = 0; i < vol.lightCount; ++i) {
    if (plan.lights[i] < 0)
      continue;
    const VolLight &light = vol.lights[i];
    const float c =
        lightArriving(vol, light, s.position, view, lookups ? lookups + i : nullptr, a.shadowMaps);
    if (c > 0.0f)
      addPart(sums + plan.lights[i], weighted, c * light.color[0], c * light.color[1],
              c * light.color[2], sink);
  }
  if (plan.motion >= 0)
    addMotion(a.frame, s.position, a.velocities[s.work.particle], weight, sums + plan.motion, sink);
}

template <typename Sink>
EK_HD void volumeLayerWork(const LayerSplatArgs &a, const WorkItem &work, Sink &sink) {
  CameraSample s;
  if (cameraSample(a.frame, a.vol, a.positions, a.velocities, work, s))
    addVolumeLayers(a, s, nullptr, sink);
}

EK_HD void layerSplatItem(const LayerSplatArgs &a, uint64_t item) {
  AtomicSink sink;
  volumeLayerWork(a, decodeWorkItem(item, a.frame.repopulation, a.frame.samples), sink);
}

// ---- the layer resolve -------------------------------------------------------------------------

// The thickness, gathered front to back, at which a pixel of total thickness T reaches half of
// its final alpha 1 - exp(-T); negative when that alpha stays below kVisibleAlpha (no depth).
EK_HD float halfAlphaThickness(float thickness) {
  const float alpha = 1.0f - expf(-thickness);
  return alpha >= kVisibleAlpha ? -logf(1.0f - 0.5f * alpha) : -1.0f;
}

// The depth at which a pixel's coverage, gathered front to back, reaches half of its final
// alpha, from its prefixed depth column (the thickness at each slice's centre) and its total
// thickness; kDepthNothing when the pixel's alpha stays below kVisibleAlpha. The thickness runs
// linearly between the slice centres, from 0 at the range's start to the total at its end.
EK_HD float halfCoverageDepth(const float *column, int32_t slices, float thickness, float start,
                              float scale) {
  const float target = halfAlphaThickness(thickness);
  if (target < 0.0f)
    return kDepthNothing;
  float position = 0.0f, gathered = 0.0f; // position in slices from the range's start
  for (int32_t k = 0; k <= slices; ++k) {
    const float nextPosition = k < slices ? float(k) + 0.5f : float(slices);
    const float next = k < slices ? column[k] : thickness;
    if (next >= target) {
      const float step = next - gathered;
      const float t = step > 0.0f ? (target - gathered) / step : 0.0f;
      return start + (position + t * (nextPosition - position)) / scale;
    }
    position = nextPosition;
    gathered = next;
  }
  return start + float(slices) / scale;
}

// Writes channel values, when the layer is asked for.
EK_HD void writeChannels(float *layer, int32_t i, int32_t channels, const float *values) {
  if (!layer)
    return;
  for (int32_t c = 0; c < channels; ++c)
    layer[uint64_t(i) * uint64_t(channels) + uint64_t(c)] = values[c];
}

EK_HD void resolveLayerPixel(const ResolveLayersArgs &a, int32_t i) {
  const LayerTargets &t = a.targets;
  const LayerPlan &plan = a.plan;
  const Rgba32f sum = a.accumulator[i];
  const float thickness = a.totalDepth[i];
  writeChannels(t.coverage, i, 1, &thickness);
  const float raw[3] = {sum.r, sum.g, sum.b};
  writeChannels(t.raw, i, 3, raw);
  if (t.depth) {
    const float *column = prefixedColumn(a.cameraDepth + uint64_t(i) * uint64_t(a.camSlices));
    t.depth[i] =
        halfCoverageDepth(column, a.camSlices, thickness, a.camDepthStart, a.camDepthScale);
  }
  const float *sums = a.sums ? a.sums + uint64_t(i) * uint64_t(plan.stride) : nullptr;
  float forward[2] = {0.0f, 0.0f}, backward[2] = {0.0f, 0.0f};
  if (sums && plan.motion >= 0) {
    const float *m = sums + plan.motion;
    if (m[4] > 0.0f) {
      forward[0] = m[0] / m[4];
      forward[1] = m[1] / m[4];
      backward[0] = m[2] / m[4];
      backward[1] = m[3] / m[4];
    }
  }
  writeChannels(t.forward, i, 2, forward);
  writeChannels(t.backward, i, 2, backward);
  // Each part takes its share of the beauty's colour: its sum over the pixel's linear sum.
  const float beauty[3] = {exposeChannel(sum.r, a.exposure), exposeChannel(sum.g, a.exposure),
                           exposeChannel(sum.b, a.exposure)};
  float share[3];
  for (int c = 0; c < 3; ++c)
    share[c] = raw[c] > 0.0f ? beauty[c] / raw[c] : 0.0f;
  auto writePart = [&](float *layer, int32_t offset) {
    if (!layer)
      return;
    const float part[3] = {sums[offset] * share[0], sums[offset + 1] * share[1],
                           sums[offset + 2] * share[2]};
    writeChannels(layer, i, 3, part);
  };
  writePart(t.emission, plan.emission);
  writePart(t.ambient, plan.ambient);
  for (int l = 0; l < kMaxVolumeLights; ++l)
    writePart(t.lights[l], plan.lights[l]);
}

} // namespace ek
