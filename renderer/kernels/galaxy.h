// The procedural test cloud: a three-armed spiral galaxy in the x-z plane, y up.
#pragma once

#include "kernels/launch_args.h"
#include "kernels/sampling.h"

namespace ek {

struct GalaxyParticle {
  EKV3 position;
  Rgba8 color;
  EKV3 velocity; // rigid rotation about the y axis
};

EK_HD GalaxyParticle galaxyParticle(uint64_t i, uint32_t seed) {
  const uint32_t low = uint32_t(i);
  const uint32_t high = uint32_t(i >> 32);
  uint32_t state = mix32(seed ^ low) ^ mix32(seed * 7919u + high);
  const float u1 = nextRandom(state);
  const float u2 = nextRandom(state);
  const float u3 = nextRandom(state);
  const float u4 = nextRandom(state);
  const float u5 = nextRandom(state);
  const float u6 = nextRandom(state);

  const float r = 100.0f * powf(u1, 1.70000005f); // crowded towards the centre
  const int arm = int(3.0f * u2);
  const float theta = float(arm) * 2.09439516f + 0.06f * r;
  const float sigma = 2.0f + 0.12f * r;
  const GaussianPair planar = boxMuller(u3, u4);
  const GaussianPair vertical = boxMuller(u5, u6);

  GalaxyParticle p;
  p.position.x = r * cosf(theta) + sigma * planar.first;
  p.position.z = r * sinf(theta) + sigma * planar.second;
  p.position.y = (1.5f + 6.0f * expf(-0.08f * r)) * vertical.first;
  const float t = fminf(r / 100.0f, 1.0f);
  p.color = {uint8_t((1.0f - 0.55f * t) * 255.0f), uint8_t((0.75f - 0.15f * t) * 255.0f),
             uint8_t((0.45f + 0.55f * t) * 255.0f), 255};
  p.velocity = {-0.03f * p.position.z, 0.0f, 0.03f * p.position.x};
  return p;
}

EK_HD void writeGalaxyParticle(const GalaxyArgs &a, uint64_t i) {
  const GalaxyParticle p = galaxyParticle(i, a.seed);
  a.positions[i] = p.position;
  a.colors[i] = p.color;
  if (a.velocities)
    a.velocities[i] = p.velocity;
}

} // namespace ek
