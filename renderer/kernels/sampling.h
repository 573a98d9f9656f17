// Hashing, random draws and the turning of a work item into a world-space sample position.
#pragma once

#include <math.h>
#include <stdint.h>

#include "kernels/ek_hd.h"
#include "kernels/frame.h"
#include "kernels/math_constants.h"

namespace ek {

constexpr float kMinLogArgument = 1e-7f;       // draws are raised to this before a logarithm
constexpr float kRandomScale = 5.9604645e-08f; // 2^-24

// Constants of the hash and of the random streams built from it. The CPU's 8-lane stream uses the
// same names, so the two cannot drift apart.
constexpr uint32_t kMixFirstMultiplier = 0x7FEB352Du;
constexpr uint32_t kMixSecondMultiplier = 0x846CA68Bu;
constexpr uint32_t kStreamStep = 0x9E3779B9u; // the golden ratio in 32 bits
constexpr uint32_t kCopyMultiplier = 0x27D4EB2Du;
constexpr uint32_t kSampleMultiplier = 0x165667B1u;
constexpr uint32_t kHighWordOffset = 0x68BC21EBu;
constexpr uint32_t kRepopulationMultiplier = 0x9E3779B1u;

// 32-bit integer hash of every sampling kernel, written for any type with uint32_t's shifts,
// exclusive or and wrapping multiplication: one value (mix32) or the CPU's eight lanes at a time.
template <typename Bits> EK_HD Bits mixBits(Bits h) {
  h ^= h >> 16;
  h *= kMixFirstMultiplier;
  h ^= h >> 15;
  h *= kMixSecondMultiplier;
  h ^= h >> 16;
  return h;
}

EK_HD uint32_t mix32(uint32_t h) { return mixBits(h); }

// Advances the state and returns a uniform draw in [0, 1 - 2^-24].
EK_HD float nextRandom(uint32_t &state) {
  state = mix32(state + kStreamStep);
  return float(state >> 8) * kRandomScale;
}

struct GaussianPair {
  float first, second;
};

// Box-Muller: two independent standard normal numbers from two uniform draws.
EK_HD GaussianPair boxMuller(float u1, float u2) {
  const float r = sqrtf(-2.0f * logf(maxNumber(u1, kMinLogArgument)));
  const float angle = kTwoPi * u2;
  return {r * cosf(angle), r * sinf(angle)};
}

struct WorkItem {
  uint64_t particle;
  uint32_t copy;   // 0 .. repopulation; copy 0 is the particle itself
  uint32_t sample; // 0 .. samples - 1
};

// Copies of a particle: itself and its repopulated ones. A frame's repopulation is never negative;
// the sum is formed in 64 bits since the largest repopulation has 2^31 copies.
EK_HD uint64_t copiesPerParticle(int32_t repopulation) { return uint64_t(repopulation) + 1u; }

// Work items of one particle: each of its copies, `samples` times.
EK_HD uint64_t itemsPerParticle(int32_t repopulation, int32_t samples) {
  return copiesPerParticle(repopulation) * uint64_t(samples);
}

EK_HD WorkItem decodeWorkItem(uint64_t item, int32_t repopulation, int32_t samples) {
  const uint64_t perParticle = itemsPerParticle(repopulation, samples);
  const uint64_t rest = item % perParticle;
  return {item / perParticle, uint32_t(rest / uint64_t(samples)),
          uint32_t(rest % uint64_t(samples))};
}

// Gaussian offset of a repopulated copy (copy >= 1). It depends on the particle and the copy only,
// so copies stay in place from frame to frame and all samples of a copy share it.
EK_HD EKV3 repopulationOffset(uint64_t particle, uint32_t copy, float radius) {
  const uint32_t low = uint32_t(particle);
  const uint32_t high = uint32_t(particle >> 32);
  uint32_t state = mix32((low * kRepopulationMultiplier) ^ mix32(copy + high));
  const float u1 = nextRandom(state);
  const float u2 = nextRandom(state);
  const float u3 = nextRandom(state);
  const float u4 = nextRandom(state);
  const GaussianPair xy = boxMuller(u1, u2);
  const GaussianPair z = boxMuller(u3, u4);
  return {radius * xy.first, radius * xy.second, radius * z.first};
}

// The two parts of a sample's random stream: what its particle gives and what its copy and sample
// give. A particle's many samples share the first, so a caller may make it once for them all.
EK_HD uint32_t particleStreamKey(uint64_t particle) {
  return uint32_t(particle) ^ mix32(uint32_t(particle >> 32) + kHighWordOffset);
}

EK_HD uint32_t sampleStreamKey(uint32_t copy, uint32_t sample, uint32_t seed) {
  return copy * kCopyMultiplier + sample * kSampleMultiplier + seed;
}

// Random state of one sample; it drives the shutter time and the lens position.
EK_HD uint32_t sampleStream(uint64_t particle, uint32_t copy, uint32_t sample, uint32_t seed) {
  return mix32(particleStreamKey(particle) ^ mix32(sampleStreamKey(copy, sample, seed)));
}

// False for a point with a not-a-number or infinite coordinate. Such points (a broken particle, or
// a sample that a broken velocity moved) are left out of every pass.
EK_HD bool isFinitePoint(const EKV3 &p) {
  return fabsf(p.x) <= kLargestFloat && fabsf(p.y) <= kLargestFloat && fabsf(p.z) <= kLargestFloat;
}

// Whether a launch needs the per-sample random stream at all.
EK_HD bool usesMotionBlur(const Frame &frame, const EKV3 *velocities) {
  return velocities != nullptr && frame.shutter > 0.0f;
}

// A particle's position p moved by the offset of one of its repopulated copies.
EK_HD EKV3 movedBy(EKV3 p, const EKV3 &offset) {
  p.x += offset.x;
  p.y += offset.y;
  p.z += offset.z;
  return p;
}

// Position of a work item's copy, given its particle's position: the particle itself, or for a
// repopulated copy the particle moved by the copy's offset.
EK_HD EKV3 copyPosition(const Frame &frame, const EKV3 &p, const WorkItem &item) {
  return item.copy > 0 ? movedBy(p, repopulationOffset(item.particle, item.copy, frame.radius)) : p;
}

// World position of a work item's sample, given its copy's position (copyPosition); `state` is
// left ready for the lens draw.
EK_HD EKV3 samplePositionOfCopy(const Frame &frame, EKV3 p, const EKV3 *velocities,
                                const WorkItem &item, uint32_t &state) {
  // Only the shutter and the lens draw from the sample's stream; without either it is not made.
  const bool blur = usesMotionBlur(frame, velocities);
  const bool lens = frame.projection != EK_PROJECTION_SPHERICAL && frame.apertureRadius > 0.0f;
  state = blur || lens ? sampleStream(item.particle, item.copy, item.sample, frame.seed) : 0u;
  if (blur) {
    const float t = (nextRandom(state) - 0.5f) * frame.shutter;
    const EKV3 v = velocities[item.particle];
    p.x += v.x * t;
    p.y += v.y * t;
    p.z += v.z * t;
  }
  return p;
}

// World position of a work item's sample, given its particle's position; `state` is left ready
// for the lens draw.
EK_HD EKV3 samplePositionFrom(const Frame &frame, EKV3 p, const EKV3 *velocities,
                              const WorkItem &item, uint32_t &state) {
  return samplePositionOfCopy(frame, copyPosition(frame, p, item), velocities, item, state);
}

// World position of a work item's sample; `state` is left ready for the lens draw.
EK_HD EKV3 samplePosition(const Frame &frame, const EKV3 *positions, const EKV3 *velocities,
                          const WorkItem &item, uint32_t &state) {
  return samplePositionFrom(frame, positions[item.particle], velocities, item, state);
}

} // namespace ek
