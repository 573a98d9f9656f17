// The additive look's layers: the splat's sample with the terms of the layer sums it adds beside
// the beauty's, and the layer resolve, from the beauty's sums and those.
#pragma once

#include "kernels/additive.h"
#include "kernels/depth_moments.h"
#include "kernels/launch_args.h"
#include "kernels/layers.h"

namespace ek {

// The most floats an additive sample adds to its pixel's layer sums.
constexpr int32_t kAdditiveExtraFloats = kMotionStepFloats + kDepthMomentFloats;

// One work item of the layered additive splat: the beauty's sample and, at the plan's offsets in
// `extra`, its motion steps and depth moment terms, each times the sample's alpha.
EK_HD bool additiveLayerSample(const AdditiveLayerSplatArgs &a, const WorkItem &work,
                               SplatSample &out, float *extra) {
  const SplatArgs &b = a.beauty;
  EKV3 world;
  float depth;
  if (!splatWorkItem(b.frame, b.positions, b.colors, b.velocities, work, out, world, depth))
    return false;
  const float w = out.value.a;
  if (a.plan.motion >= 0) {
    float steps[kMotionStepFloats];
    motionSteps(b.frame, world, a.motionVelocities[work.particle], steps);
    for (int k = 0; k < kMotionStepFloats; ++k)
      extra[a.plan.motion + k] = w * steps[k];
  }
  if (a.plan.moments >= 0)
    depthMomentTerms(normalisedDepth(depth, a.depthStart, a.depthScale), w, extra + a.plan.moments);
  return true;
}

// The depth at which the alpha of a pixel with alpha sum `weight` and thickness
// exposure x weight, gathered front to back, reaches half of its final alpha, from its depth
// moment sums; kDepthNothing when its alpha stays below kVisibleAlpha.
EK_HD float additiveHalfCoverageDepth(float weight, float exposure, const float *moments,
                                      float start, float span) {
  const float thickness = exposure * weight;
  const float target = halfAlphaThickness(thickness);
  if (!(target >= 0.0f) || !(thickness > 0.0f))
    return kDepthNothing;
  const float u = depthAtFraction(weight, moments, target / thickness);
  return start + 0.5f * (u + 1.0f) * span;
}

EK_HD void resolveAdditiveLayerPixel(const ResolveAdditiveLayersArgs &a, int32_t i) {
  const LayerTargets &t = a.targets;
  const Rgba32f sum = a.accumulator[i];
  const float thickness = a.exposure * sum.a;
  writeChannels(t.coverage, i, 1, &thickness);
  const float raw[3] = {sum.r, sum.g, sum.b};
  writeChannels(t.raw, i, 3, raw);
  // All of the additive look's colour is emission.
  float beauty[3];
  beautyColor(a.image, sum, a.exposure, i, beauty);
  writeChannels(t.emission, i, 3, beauty);
  const float *sums = a.sums ? a.sums + uint64_t(i) * uint64_t(a.plan.stride) : nullptr;
  if (t.depth)
    t.depth[i] = sums && a.plan.moments >= 0
                     ? additiveHalfCoverageDepth(sum.a, a.exposure, sums + a.plan.moments,
                                                 a.depthStart, a.depthSpan)
                     : kDepthNothing;
  float forward[2] = {0.0f, 0.0f}, backward[2] = {0.0f, 0.0f};
  if (sums && a.plan.motion >= 0 && sum.a > 0.0f) {
    const float *m = sums + a.plan.motion;
    forward[0] = m[0] / sum.a;
    forward[1] = m[1] / sum.a;
    backward[0] = m[2] / sum.a;
    backward[1] = m[3] / sum.a;
  }
  writeChannels(t.forward, i, 2, forward);
  writeChannels(t.backward, i, 2, backward);
}

// The additive layered splat's CUDA item: adds the sample to the beauty and to the layer sums.
EK_HD void additiveLayerSplatItem(const AdditiveLayerSplatArgs &a, uint64_t item) {
  const Frame &f = a.beauty.frame;
  SplatSample s;
  float extra[kAdditiveExtraFloats];
  if (!additiveLayerSample(a, decodeWorkItem(item, f.repopulation, f.samples), s, extra))
    return;
  float *cell = &a.beauty.accumulator[s.pixel].r;
  atomicAddFloat(cell + 0, s.value.r);
  atomicAddFloat(cell + 1, s.value.g);
  atomicAddFloat(cell + 2, s.value.b);
  atomicAddFloat(cell + 3, s.value.a);
  float *sums = a.sums + uint64_t(s.pixel) * uint64_t(a.plan.stride);
  for (int32_t k = 0; k < a.plan.stride; ++k)
    atomicAddFloat(sums + k, extra[k]);
}

} // namespace ek
