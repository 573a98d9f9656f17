// Render layers: the motion steps of a sample, the sums the volumetric look's shading gathers per
// pixel beside the beauty (what its samples give to the parts of its light and to its motion), and
// its layer resolve, which turns those sums, the beauty's own sums and the camera depth map into
// the layer images. The additive look's layers are in additive_layers.h.
#pragma once

#include "kernels/exact_sums.h"
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

// The pinhole camera's image steps of a point at p moving by `velocity`, forward and backward, as
// imageStep gives them: the velocity is turned into camera space once, and each end of the step
// is the point's camera position plus or minus it. A step whose end cannot be placed stays 0, 0.
EK_HD void pinholeSteps(const Frame &f, const EKV3 &p, const EKV3 &velocity, float &forwardU,
                        float &forwardV, float &backwardU, float &backwardV) {
  if (!isFinitePoint(p))
    return;
  const CameraPoint c = toCamera(f, p);
  if (f.nearClip >= -c.z)
    return;
  const float *m = f.view;
  const CameraPoint d = {m[0] * velocity.x + m[1] * velocity.y + m[2] * velocity.z,
                         m[4] * velocity.x + m[5] * velocity.y + m[6] * velocity.z,
                         m[8] * velocity.x + m[9] * velocity.y + m[10] * velocity.z};
  const float scaleX = f.scaleX * 0.5f * float(f.width);
  const float scaleY = f.scaleY * 0.5f * float(f.height);
  // One reciprocal per end of a step instead of a division per coordinate.
  const float inverseDepth = -1.0f / c.z;
  const float x = c.x * inverseDepth, y = c.y * inverseDepth;
  auto step = [&](float sign, const EKV3 &to, float &u, float &v) {
    const float depth = -(c.z + sign * d.z);
    if (!isFinitePoint(to) || f.nearClip >= depth)
      return;
    const float inverse = 1.0f / depth;
    u = ((c.x + sign * d.x) * inverse - x) * scaleX;
    v = (y - (c.y + sign * d.y) * inverse) * scaleY;
  };
  step(1.0f, {p.x + velocity.x, p.y + velocity.y, p.z + velocity.z}, forwardU, forwardV);
  step(-1.0f, {p.x - velocity.x, p.y - velocity.y, p.z - velocity.z}, backwardU, backwardV);
}

// The image steps of a point at p moving by `velocity` per frame: forward u and v, backward u
// and v; all 0 when p cannot be placed.
EK_HD void motionSteps(const Frame &f, const EKV3 &p, const EKV3 &velocity,
                       float steps[kMotionStepFloats]) {
  float x, y;
  steps[0] = steps[1] = steps[2] = steps[3] = 0.0f;
  if (f.projection != EK_PROJECTION_SPHERICAL) {
    pinholeSteps(f, p, velocity, steps[0], steps[1], steps[2], steps[3]);
  } else if (pinholePosition(f, p, x, y)) {
    imageStep(f, x, y, {p.x + velocity.x, p.y + velocity.y, p.z + velocity.z}, steps[0], steps[1]);
    imageStep(f, x, y, {p.x - velocity.x, p.y - velocity.y, p.z - velocity.z}, steps[2], steps[3]);
  }
}

// Adds a sample at p, moving by `velocity` per frame, with weight w to a pixel's motion sums.
template <typename Sink>
EK_HD void addMotion(const Frame &f, const EKV3 &p, const EKV3 &velocity, float w, float *sums,
                     Sink &sink) {
  float steps[kMotionStepFloats];
  motionSteps(f, p, velocity, steps);
  for (int k = 0; k < kMotionStepFloats; ++k)
    sink(sums + k, w * steps[k]);
  sink(sums + kMotionStepFloats, w);
}

// ---- the volumetric look's sums, gathered by its shading ---------------------------------------

// A sink that writes each value in place: a sample's own record.
struct StoreSink {
  EK_HD void operator()(float *address, float value) const { *address = value; }
};

// Keeps each light's factor at a sample, as lightAtPoint hands them on.
struct LightFactors {
  float factor[kMaxVolumeLights];
  EK_HD void operator()(int i, float c) { factor[i] = c; }
};

// shadeCameraSample, which also writes the sample's layer record: every sum of `layers.plan`, from
// the values the shading computes anyway (its weight and each light's factor), and its motion by
// its particle's `velocity`, weighted like its colour. `record` holds plan.stride floats, all
// written when it returns true.
EK_HD bool shadeLayeredSample(const ShadeArgs &a, const CameraSample &s, const Rgba8 &color,
                              const EKV3 &velocity, const ShadowLookup *lookups, SplatSample &out,
                              float *record) {
  const VolumeConstants &vol = a.vol;
  const float weight = cameraSampleWeight(vol, s, a.cameraDepth);
  if (weight <= kMinWeight)
    return false;
  float light[3];
  LightFactors lights = {};
  lightAtPoint(vol, s.position, lookups, a.shadowMaps, light, lights);
  out.pixel = s.pixel;
  out.value = shadedValue(weight, color, light, vol.emission);
  const LayerPlan &plan = a.layers.plan;
  const float weighted[3] = {weight * (float(color.r) * kColorScale),
                             weight * (float(color.g) * kColorScale),
                             weight * (float(color.b) * kColorScale)};
  if (plan.colorSum >= 0)
    for (int c = 0; c < 3; ++c)
      record[plan.colorSum + c] = weighted[c];
  for (int i = 0; i < kMaxVolumeLights; ++i)
    if (plan.lights[i] >= 0)
      for (int c = 0; c < 3; ++c)
        record[plan.lights[i] + c] = weighted[c] * lights.factor[i];
  if (plan.motion >= 0) {
    StoreSink store;
    addMotion(a.frame, s.position, velocity, weight, record + plan.motion, store);
  }
  return true;
}

// The colour sums the shading gathers per pixel: red, green and blue (its alpha comes from the
// camera depth map).
constexpr uint64_t kShadedChannels = 3;

// Adds a shaded sample's colour to its pixel's exact colour sums.
EK_HD void addShadedColour(ExactSum *beauty, const SplatSample &s) {
  ExactSum *cell = beauty + uint64_t(s.pixel) * kShadedChannels;
  atomicAddExact(cell + 0, s.value.r);
  atomicAddExact(cell + 1, s.value.g);
  atomicAddExact(cell + 2, s.value.b);
}

// One work item of a layered render's shading on the GPU: its beauty (three sums a pixel) and its
// record (plan.stride sums a pixel) added to exact sums, whose totals do not depend on the order
// in which the threads add.
EK_HD void shadeLayersItem(const ShadeArgs &a, uint64_t item, ExactSum *beauty, ExactSum *sums) {
  CameraSample s;
  if (!cameraSample(a.frame, a.vol, a.positions, a.velocities,
                    decodeWorkItem(item, a.frame.repopulation, a.frame.samples), s))
    return;
  const ShadeLayers &layers = a.layers;
  const EKV3 velocity =
      layers.plan.motion >= 0 ? layers.velocities[s.work.particle] : EKV3{0, 0, 0};
  SplatSample out;
  float record[kMaxLayerStride];
  if (!shadeLayeredSample(a, s, a.colors[s.work.particle], velocity, nullptr, out, record))
    return;
  addShadedColour(beauty, out);
  ExactSum *recordSums = sums + uint64_t(out.pixel) * uint64_t(layers.plan.stride);
  for (int32_t k = 0; k < layers.plan.stride; ++k)
    atomicAddExact(recordSums + k, record[k]);
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

// A pixel's beauty colour: the float image's, resolved before, where the render made one (so that
// the layers made from it sum to exactly the image written), else its exposed sum.
EK_HD void beautyColor(const Rgba32f *image, const Rgba32f &sum, float exposure, int32_t i,
                       float color[3]) {
  if (image) {
    color[0] = image[i].r;
    color[1] = image[i].g;
    color[2] = image[i].b;
  } else {
    color[0] = exposeChannel(sum.r, exposure);
    color[1] = exposeChannel(sum.g, exposure);
    color[2] = exposeChannel(sum.b, exposure);
  }
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
  float beauty[3];
  beautyColor(a.image, sum, a.exposure, i, beauty);
  float share[3];
  for (int c = 0; c < 3; ++c)
    share[c] = raw[c] > 0.0f ? beauty[c] / raw[c] : 0.0f;
  auto writePart = [&](float *layer, int32_t offset, const float color[3]) {
    if (!layer)
      return;
    const float part[3] = {sums[offset] * color[0] * share[0],
                           sums[offset + 1] * color[1] * share[1],
                           sums[offset + 2] * color[2] * share[2]};
    writeChannels(layer, i, 3, part);
  };
  writePart(t.emission, plan.colorSum, a.colors.emission);
  writePart(t.ambient, plan.colorSum, a.colors.ambient);
  for (int l = 0; l < kMaxVolumeLights; ++l)
    writePart(t.lights[l], plan.lights[l], a.colors.lights[l]);
}

} // namespace ek
