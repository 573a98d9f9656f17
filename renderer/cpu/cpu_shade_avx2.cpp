// Shading eight samples at a time from what the camera pass and the light pass kept of them,
// written as shadeCameraSample, lightAtPoint and lightArriving are, lane by lane, with the C
// library's expf worked out in lanes (cpu_exp_avx2.h). The memory reads (a column of the camera
// depth map, four texels of a light's map where stageShadowTaps found them) are taken lane by
// lane, and the texels blended in lanes as shadowThickness blends them; only
// kernel functions, which are always inlined, are called here, so that no function compiled for
// AVX2 is shared with the rest of the library.
#include <cmath>

#include "cpu/cpu_avx2.h"
#include "cpu/cpu_avx2_lanes.h"
#include "cpu/cpu_exp_avx2.h"
#include "kernels/volume.h"

namespace ek {

namespace {

using avx2::F32x8;
using avx2::Mask8;

constexpr uint32_t kLanes = ShadedLanes::kLanes;

// Made where used: a constant of this file built at load time would run AVX2 instructions on any
// processor.
F32x8 zero() { return _mm256_setzero_ps(); }
F32x8 one() { return F32x8(1.0f); }

// Zeroes `count` floats (a whole number of lane groups) eight at a time: for arrays this small, a
// string instruction's start-up costs more than the stores.
void zeroLanes(float *lanes, uint32_t count) {
  for (uint32_t i = 0; i < count; i += kLanes)
    zero().store(lanes + i);
}

F32x8 distanceFactor(const VolLight &light, F32x8 dist) {
  const float radius = light.falloffRadius;
  switch (light.falloff) {
  case EK_FALLOFF_INVERSE_SQUARE:
    return radius > 0.0f ? F32x8(radius * radius) / avx2::maxNumber(dist * dist, F32x8(1e-6f))
                         : one();
  case EK_FALLOFF_INVERSE_SQUARE_CLAMPED:
    return radius > 0.0f
               ? avx2::minNumber(
                     F32x8(radius * radius) / avx2::maxNumber(dist * dist, F32x8(1e-6f)), one())
               : one();
  case EK_FALLOFF_INVERSE:
    return radius > 0.0f ? F32x8(radius) / avx2::maxNumber(dist, F32x8(1e-6f)) : one();
  case EK_FALLOFF_INVERSE_CLAMPED:
    return radius > 0.0f
               ? avx2::minNumber(F32x8(radius) / avx2::maxNumber(dist, F32x8(1e-6f)), one())
               : one();
  case EK_FALLOFF_RAMP: {
    const F32x8 ramp = (F32x8(radius) - dist) / maxNumber(radius - light.falloffInner, 1e-6f);
    return avx2::select(dist <= F32x8(light.falloffInner), one(),
                        avx2::select(dist >= F32x8(radius), zero(), ramp));
  }
  case EK_FALLOFF_STEP:
    return avx2::select(dist <= F32x8(radius), one(), zero());
  default:
    return one();
  }
}

F32x8 coneFactor(const VolLight &light, F32x8 cs) {
  const float width = light.cosInner - light.cosOuter;
  if (width > 1e-6f) {
    const F32x8 t = avx2::minNumber(avx2::maxNumber((cs - light.cosOuter) / width, zero()), one());
    return t * t * (F32x8(3.0f) - F32x8(2.0f) * t);
  }
  return avx2::select(cs >= F32x8(light.cosOuter), one(), zero());
}

F32x8 phaseFactor(float g, F32x8 viewDotLight) {
  if (fabsf(g) < kMinAnisotropy)
    return one();
  const F32x8 q = F32x8(1.0f + g * g) + F32x8(2.0f * g) * viewDotLight;
  return F32x8(1.0f - g * g) / (q * avx2::sqrt(q));
}

// -shadowThickness in every lane of `lanes` (inside the light's map) from its taps, the texels
// read lane by lane and blended in lanes; zero in the other lanes.
F32x8 minusShadows(const ShadowTapLanes &taps, int light, uint32_t lanes) {
  alignas(32) float front[4][kLanes], back[4][kLanes];
  zeroLanes(front[0], 4 * kLanes);
  zeroLanes(back[0], 4 * kLanes);
  for (; lanes != 0; lanes &= lanes - 1) {
    const uint32_t lane = lowestBit(lanes);
    const int32_t k = taps.k0[light][lane];
    // columnThickness reads the next slice only for a fraction above zero.
    const int32_t next = taps.fraction[light][lane] > 0.0f ? k + 1 : k;
    for (int t = 0; t < 4; ++t) {
      const float *column = prefixedColumn(taps.column[light][t][lane]);
      front[t][lane] = column[k];
      back[t][lane] = column[next];
    }
  }
  const F32x8 fraction = F32x8::load(taps.fraction[light]);
  const Mask8 between = zero() < fraction;
  auto thickness = [&](int t) {
    const F32x8 f = F32x8::load(front[t]);
    return avx2::select(between, f + fraction * (F32x8::load(back[t]) - f), f);
  };
  const F32x8 fx = F32x8::load(taps.fx[light]), fy = F32x8::load(taps.fy[light]);
  return avx2::negate((one() - fy) * ((one() - fx) * thickness(0) + fx * thickness(1)) +
                      fy * ((one() - fx) * thickness(2) + fx * thickness(3)));
}

} // namespace

void exponentialAvx2(const float *values, float *results, uint64_t count) {
  for (uint64_t i = 0; i + 8 <= count; i += 8)
    avx2::exponential(F32x8::load(values + i)).store(results + i);
}

void shadeSamplesAvx2(const VolumeConstants &vol, const ShadeInputs &in, uint32_t count,
                      ShadedLanes &out) {
  // cameraSampleWeight: the column's thickness in front of each placed sample and its coverage.
  alignas(32) float xyz[3 * kLanes], thickness[kLanes], coverage[kLanes], color[3 * kLanes];
  zeroLanes(xyz, 3 * kLanes);
  zeroLanes(thickness, kLanes);
  zeroLanes(coverage, kLanes);
  zeroLanes(color, 3 * kLanes);
  uint32_t placed = 0;
  for (uint32_t lane = 0; lane < count; ++lane) {
    const KeptCameraSample &k = in.camera[lane];
    if (!k.placed)
      continue;
    placed |= 1u << lane;
    const Slices slices{k.k0, k.k0 + 1 < vol.camSlices ? k.k0 + 1 : k.k0, k.fraction};
    thickness[lane] =
        -columnThickness(prefixedColumn(cameraColumn(vol, in.cameraDepth, k.pixel)), slices);
    coverage[lane] = -k.coverage;
    out.pixel[lane] = k.pixel;
    const EKV3 &p = in.positions[lane];
    xyz[lane] = p.x;
    xyz[kLanes + lane] = p.y;
    xyz[2 * kLanes + lane] = p.z;
    color[lane] = float(in.color[lane].r) * kColorScale;
    color[kLanes + lane] = float(in.color[lane].g) * kColorScale;
    color[2 * kLanes + lane] = float(in.color[lane].b) * kColorScale;
  }
  out.shaded = 0;
  if (placed == 0)
    return;
  const F32x8 transmittance = avx2::exponential(F32x8::load(thickness));
  const F32x8 opacity = one() - avx2::exponential(F32x8::load(coverage));
  const F32x8 weight = transmittance * opacity;
  const uint32_t visible = placed & ~(weight <= F32x8(kMinWeight)).laneBits();
  out.shaded = visible;
  if (visible == 0)
    return;

  // lightAtPoint.
  const F32x8 x = F32x8::load(xyz), y = F32x8::load(xyz + kLanes),
              z = F32x8::load(xyz + 2 * kLanes);
  F32x8 vx = F32x8(vol.cameraPosition.x) - x, vy = F32x8(vol.cameraPosition.y) - y,
        vz = F32x8(vol.cameraPosition.z) - z;
  const F32x8 viewLength = avx2::sqrt(vx * vx + vy * vy + vz * vz);
  const Mask8 away = zero() < viewLength;
  vx = avx2::select(away, vx / viewLength, vx);
  vy = avx2::select(away, vy / viewLength, vy);
  vz = avx2::select(away, vz / viewLength, vz);
  F32x8 light[3] = {F32x8(vol.ambient[0]), F32x8(vol.ambient[1]), F32x8(vol.ambient[2])};
  for (int i = 0; i < vol.lightCount; ++i) {
    const VolLight &source = vol.lights[i];
    // lightArriving: `dark` holds the lanes where it returns zero early.
    F32x8 lx, ly, lz, c = one();
    Mask8 dark{_mm256_setzero_ps()};
    if (source.type == EK_LIGHT_DIRECTIONAL) {
      lx = F32x8(-source.direction[0]);
      ly = F32x8(-source.direction[1]);
      lz = F32x8(-source.direction[2]);
    } else {
      const F32x8 dx = F32x8(source.position[0]) - x, dy = F32x8(source.position[1]) - y,
                  dz = F32x8(source.position[2]) - z;
      const F32x8 dist = avx2::sqrt(dx * dx + dy * dy + dz * dz);
      dark = dist <= F32x8(kMinLightDistance);
      lx = dx / dist;
      ly = dy / dist;
      lz = dz / dist;
      c = distanceFactor(source, dist);
      if (source.type == EK_LIGHT_SPOT) {
        const F32x8 cs = avx2::negate(lx * source.direction[0] + ly * source.direction[1] +
                                      lz * source.direction[2]);
        c = c * coneFactor(source, cs);
      }
    }
    dark = dark | (c <= zero());
    c = c * phaseFactor(vol.anisotropy, vx * lx + vy * ly + vz * lz);
    if (source.mapCount >= 1) {
      const uint32_t inside = visible & ~dark.laneBits() & in.taps->inside[i];
      if (inside != 0)
        c = avx2::select(avx2::lanesOf(inside),
                         c * avx2::exponential(minusShadows(*in.taps, i, inside)), c);
    }
    c = avx2::select(dark, zero(), c);
    // lightAtPoint skips a light whose factor is not above zero.
    const Mask8 adds = avx2::notLessEqual(c, zero());
    for (int a = 0; a < 3; ++a)
      light[a] = avx2::select(adds, light[a] + c * source.color[a], light[a]);
  }

  // shadedValue.
  float *channel[3] = {out.r, out.g, out.b};
  for (int a = 0; a < 3; ++a)
    (weight * F32x8::load(color + a * kLanes) * (light[a] + vol.emission)).store(channel[a]);
}

} // namespace ek
