// The volumetric samples eight at a time: light samples placed in the lights' maps as
// lightSampleHit, projectToMap, mapSlices and lightSampleThickness place each, and camera samples
// placed in the image as cameraSampleOfCopy places each, lane by lane.
#include <cmath>
#include <cstring>

#include "cpu/cpu_avx2.h"
#include "cpu/cpu_avx2_lanes.h"
#include "kernels/volume.h"

namespace ek {

namespace {

using avx2::F32x8;
using avx2::Mask8;

constexpr uint32_t kLanes = 8;

// a where the mask is set, b elsewhere, for 32-bit integers.
__m256i selectInt(Mask8 m, __m256i a, __m256i b) {
  return _mm256_castps_si256(
      _mm256_blendv_ps(_mm256_castsi256_ps(b), _mm256_castsi256_ps(a), m.bits));
}

// The first `count` positions, one coordinate to a register; the lanes past them hold
// not-a-number. Returns a bit per lane whose position is finite.
uint32_t loadPositions(const EKV3 *positions, uint32_t count, F32x8 &x, F32x8 &y, F32x8 &z) {
  alignas(32) float xyz[3 * kLanes];
  for (uint32_t lane = 0; lane < kLanes; ++lane) {
    const EKV3 p = lane < count ? positions[lane] : EKV3{NAN, NAN, NAN};
    xyz[lane] = p.x;
    xyz[kLanes + lane] = p.y;
    xyz[2 * kLanes + lane] = p.z;
  }
  x = F32x8::load(xyz);
  y = F32x8::load(xyz + kLanes);
  z = F32x8::load(xyz + 2 * kLanes);
  return (avx2::finiteLanes(x) & avx2::finiteLanes(y) & avx2::finiteLanes(z)).laneBits();
}

// splitSlices of every lane.
struct SlicesLanes {
  __m256i k0, k1;
  F32x8 fraction;
};

SlicesLanes splitSlices(F32x8 position, int32_t slices) {
  const F32x8 s = avx2::minNumber(avx2::maxNumber(position, F32x8(0.0f)), F32x8(float(slices - 1)));
  SlicesLanes out;
  out.k0 = avx2::truncateToInt(s).v;
  const __m256i next = _mm256_add_epi32(out.k0, _mm256_set1_epi32(1));
  const Mask8 below{_mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(slices), next))};
  out.k1 = selectInt(below, next, out.k0);
  out.fraction = s - _mm256_cvtepi32_ps(out.k0);
  return out;
}

// cubeFace of every lane's direction from the light, as a float 0 .. 5.
F32x8 cubeFaces(F32x8 dx, F32x8 dy, F32x8 dz) {
  const F32x8 ax = avx2::abs(dx), ay = avx2::abs(dy), az = avx2::abs(dz);
  const F32x8 zero(0.0f);
  const F32x8 xFace = avx2::select(dx >= zero, F32x8(0.0f), F32x8(1.0f));
  const F32x8 yFace = avx2::select(dy >= zero, F32x8(2.0f), F32x8(3.0f));
  const F32x8 zFace = avx2::select(dz >= zero, F32x8(4.0f), F32x8(5.0f));
  return avx2::select((ax >= ay) & (ax >= az), xFace, avx2::select(ay >= az, yFace, zFace));
}

// What one map gives the lanes: which land in it, and there their texel position, depth slices
// and thickness.
struct MapLanes {
  Mask8 inside;
  F32x8 px, py, thickness;
  SlicesLanes slices;
};

// Every lane placed in map m, whether or not m is the lane's map; logf is taken only in the lanes
// of `logLanes` (the lanes whose map m is), the others' depth slices are left undefined.
MapLanes placeInMap(const VolumeConstants &vol, const ShadowMap &m, F32x8 x, F32x8 y, F32x8 z,
                    uint32_t logLanes) {
  const F32x8 lx = avx2::affineRow(m.view, x, y, z);
  const F32x8 ly = avx2::affineRow(m.view + 4, x, y, z);
  const F32x8 lz = avx2::affineRow(m.view + 8, x, y, z);
  F32x8 sx, sy, area;
  Mask8 inFront{_mm256_castsi256_ps(_mm256_set1_epi32(-1))};
  if (m.ortho) {
    sx = lx * m.scaleX;
    sy = ly * m.scaleY;
    area = F32x8(m.texelArea);
  } else {
    inFront = avx2::notLessEqual(lz, F32x8(m.nearClip));
    sx = lx * m.scaleX / lz;
    sy = ly * m.scaleY / lz;
    area = F32x8(m.texelArea) * lz * lz * (lz / avx2::sqrt(lx * lx + ly * ly + lz * lz));
  }
  const F32x8 size(float(m.size)), zero(0.0f);
  MapLanes out;
  out.px = (sx * 0.5f + 0.5f) * size;
  out.py = (F32x8(0.5f) - sy * 0.5f) * size;
  out.inside = inFront & (out.px >= zero) & (out.px < size) & (out.py >= zero) & (out.py < size);
  F32x8 d;
  if (m.logDepth) {
    alignas(32) float depth[kLanes];
    (avx2::maxNumber(lz, F32x8(m.depthStart)) / m.depthStart).store(depth);
    for (uint32_t lanes = logLanes & out.inside.laneBits(); lanes != 0; lanes &= lanes - 1) {
      const uint32_t lane = lowestBit(lanes);
      depth[lane] = logf(depth[lane]);
    }
    d = F32x8::load(depth);
  } else {
    d = lz - m.depthStart;
  }
  out.slices = splitSlices(d * m.depthScale - 0.5f, m.slices);
  out.thickness = F32x8(vol.lightSampleArea) / avx2::maxNumber(area, F32x8(vol.lightSampleArea));
  return out;
}

} // namespace

void placeLightSamplesAvx2(const VolumeConstants &vol, const EKV3 *positions, uint32_t count,
                           LightLanes &out) {
  F32x8 x, y, z;
  const uint32_t finite = loadPositions(positions, count, x, y, z);
  for (int i = 0; i < vol.lightCount; ++i) {
    const VolLight &light = vol.lights[i];
    out.hits[i] = 0;
    if (light.mapCount < 1 || finite == 0)
      continue;
    alignas(32) int32_t mapOf[kLanes];
    if (light.mapCount == 1) {
      _mm256_store_si256(reinterpret_cast<__m256i *>(mapOf), _mm256_set1_epi32(light.firstMap));
    } else {
      const F32x8 face =
          cubeFaces(x - light.position[0], y - light.position[1], z - light.position[2]);
      _mm256_store_si256(
          reinterpret_cast<__m256i *>(mapOf),
          _mm256_add_epi32(_mm256_set1_epi32(light.firstMap), avx2::truncateToInt(face).v));
    }
    // Neighbouring samples mostly share a map: each map the lanes reach is worked out for all
    // eight lanes once and taken by the lanes that land in it.
    F32x8 px, py, fraction, thickness;
    __m256i k0 = _mm256_setzero_si256(), k1 = _mm256_setzero_si256();
    uint32_t hits = 0;
    for (uint32_t pending = finite; pending != 0;) {
      const int32_t map = mapOf[lowestBit(pending)];
      uint32_t own = 0;
      for (uint32_t lanes = pending; lanes != 0; lanes &= lanes - 1)
        if (mapOf[lowestBit(lanes)] == map)
          own |= 1u << lowestBit(lanes);
      pending &= ~own;
      const MapLanes placed = placeInMap(vol, vol.maps[map], x, y, z, own);
      const uint32_t landed = own & placed.inside.laneBits();
      if (landed == 0)
        continue;
      hits |= landed;
      const Mask8 take = avx2::lanesOf(landed);
      px = avx2::select(take, placed.px, px);
      py = avx2::select(take, placed.py, py);
      fraction = avx2::select(take, placed.slices.fraction, fraction);
      thickness = avx2::select(take, placed.thickness, thickness);
      k0 = selectInt(take, placed.slices.k0, k0);
      k1 = selectInt(take, placed.slices.k1, k1);
    }
    out.hits[i] = hits;
    if (hits == 0)
      continue;
    std::memcpy(out.map[i], mapOf, sizeof mapOf);
    px.store(out.px[i]);
    py.store(out.py[i]);
    fraction.store(out.fraction[i]);
    thickness.store(out.thickness[i]);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out.k0[i]), k0);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out.k1[i]), k1);
  }
}

void placeCameraSamplesAvx2(const Frame &f, const VolumeConstants &vol, const EKV3 *positions,
                            uint32_t count, CameraLanes &out) {
  F32x8 x, y, z;
  const uint32_t finite = loadPositions(positions, count, x, y, z);
  // toCamera, then projectPerspective without a lens.
  const F32x8 cx = avx2::affineRow(f.view, x, y, z);
  const F32x8 cy = avx2::affineRow(f.view + 4, x, y, z);
  const F32x8 cz = avx2::affineRow(f.view + 8, x, y, z);
  const F32x8 depth = avx2::negate(cz);
  const Mask8 inFront = avx2::notGreaterEqual(F32x8(f.nearClip), depth);
  const F32x8 inverseDepth = F32x8(-1.0f) / cz;
  const F32x8 xn = cx * inverseDepth, yn = cy * inverseDepth;
  const F32x8 width(float(f.width)), height(float(f.height)), zero(0.0f);
  const F32x8 px = (xn * f.scaleX * 0.5f + 0.5f) * width;
  const F32x8 py = (F32x8(1.0f) - (yn * f.scaleY * 0.5f + 0.5f)) * height;
  const Mask8 inImage = (px >= zero) & (px < width) & (py >= zero) & (py < height);
  out.placed = finite & (inFront & inImage).laneBits();
  // pixelCrossSection, the pixel and the depth slices; lanes not placed hold anything.
  const F32x8 distance = avx2::sqrt(cx * cx + cy * cy + cz * cz);
  const F32x8 area = F32x8(f.pixelArea) * cz * cz * (depth / distance);
  const __m256i pixel =
      _mm256_add_epi32(_mm256_mullo_epi32(avx2::truncateToInt(py).v, _mm256_set1_epi32(f.width)),
                       avx2::truncateToInt(px).v);
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(out.pixel), pixel);
  const SlicesLanes slices =
      splitSlices((depth - vol.camDepthStart) * vol.camDepthScale - 0.5f, vol.camSlices);
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(out.k0), slices.k0);
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(out.k1), slices.k1);
  slices.fraction.store(out.fraction);
  (F32x8(vol.camSampleArea) / avx2::maxNumber(area, F32x8(vol.camSampleArea))).store(out.coverage);
}

} // namespace ek
