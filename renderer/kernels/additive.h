// The additive look: one splat sample per work item, and the exposure curve that resolves the
// accumulated light into the output images.
#pragma once

#include "kernels/projection.h"

namespace ek {

constexpr float kInvGamma = 0.454545438f; // single-precision 1/2.2

struct SplatSample {
  uint32_t pixel;
  Rgba32f value;
};

// What one particle sample adds to its pixel; colour bytes enter unscaled, the 1/255 of the
// colour is folded into colorGain.
EK_HD Rgba32f splatValue(const Frame &f, const Rgba8 &color) {
  return {float(color.r) * f.colorGain, float(color.g) * f.colorGain, float(color.b) * f.colorGain,
          (float(color.a) * kColorScale) * f.gain};
}

// One decoded work item of the additive splat: where its sample lands and what it adds there,
// and the sample's world position and depth (see PixelHit).
EK_HD bool splatWorkItem(const Frame &f, const EKV3 *positions, const Rgba8 *colors,
                         const EKV3 *velocities, const WorkItem &work, SplatSample &out,
                         EKV3 &world, float &depth) {
  uint32_t state = 0;
  world = samplePosition(f, positions, velocities, work, state);
  PixelHit hit;
  CameraPoint c;
  if (!projectSample(f, world, state, hit, c))
    return false;
  out.pixel = uint32_t(hit.iy) * uint32_t(f.width) + uint32_t(hit.ix);
  out.value = splatValue(f, colors[work.particle]);
  depth = hit.depth;
  return true;
}

EK_HD bool splatWorkItem(const Frame &f, const EKV3 *positions, const Rgba8 *colors,
                         const EKV3 *velocities, const WorkItem &work, SplatSample &out) {
  EKV3 world;
  float depth;
  return splatWorkItem(f, positions, colors, velocities, work, out, world, depth);
}

EK_HD bool splatSample(const Frame &f, const EKV3 *positions, const Rgba8 *colors,
                       const EKV3 *velocities, uint64_t item, SplatSample &out) {
  return splatWorkItem(f, positions, colors, velocities,
                       decodeWorkItem(item, f.repopulation, f.samples), out);
}

// True when every sample of a copy lands on the same pixel: without motion blur and lens there
// is nothing random left per sample.
EK_HD bool samplesCoincide(const Frame &f, const EKV3 *velocities) {
  return !usesMotionBlur(f, velocities) &&
         (f.projection == EK_PROJECTION_SPHERICAL || !(f.apertureRadius > 0.0f));
}

// Exposure curve: 1 - exp(-exposure x accumulated).
EK_HD float exposeChannel(float accumulated, float exposure) {
  return 1.0f - expf(-exposure * accumulated);
}

// Gamma-encoded byte of a resolved channel; not-a-number gives 0 and the value saturates at 255.
EK_HD uint8_t gammaByte(float value) {
  const float scaled = powf(value, kInvGamma) * 255.0f + 0.5f;
  if (!(scaled >= 0.0f))
    return 0;
  return scaled >= 255.0f ? uint8_t(255) : uint8_t(scaled);
}

// Resolves accumulated light; alpha is raised to the brightest colour so colour never exceeds it.
EK_HD Rgba32f resolveValue(const Rgba32f &accumulated, float exposure) {
  const float r = exposeChannel(accumulated.r, exposure);
  const float g = exposeChannel(accumulated.g, exposure);
  const float b = exposeChannel(accumulated.b, exposure);
  const float a = exposeChannel(accumulated.a, exposure);
  return {r, g, b, maxNumber(maxNumber(maxNumber(maxNumber(a, r), g), b), 0.0f)};
}

EK_HD void resolvePixel(const Rgba32f *accumulator, Rgba8 *image, Rgba32f *imageFloat, int32_t i,
                        float exposure) {
  const Rgba32f v = resolveValue(accumulator[i], exposure);
  if (imageFloat)
    imageFloat[i] = v;
  if (image)
    image[i] = {gammaByte(v.r), gammaByte(v.g), gammaByte(v.b), 255};
}

} // namespace ek
