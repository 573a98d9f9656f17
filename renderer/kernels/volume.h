// The volumetric look: cloud bounds, deep shadow maps seen from the lights, the camera depth map,
// lit and shadowed shading of every sample, and the volumetric resolve.
#pragma once

#include "kernels/additive.h"
#include "kernels/volume_constants.h"

namespace ek {

constexpr float kMinWeight = 1e-7f;
constexpr float kMinLightDistance = 1e-6f;
constexpr float kMinAnisotropy = 1e-4f;
constexpr int kMaxFootprint = 15; // a light sample spreads over at most 15 x 15 texels

// ---- bounds and moments ------------------------------------------------------------------------

struct BoundsPartial {
  float minimum[3];
  float maximum[3];
  float speedSquared;
  double sum[3];
  double sumSquares[3];
  double count; // particles measured; broken ones are left out
};

EK_HD BoundsPartial neutralBounds() {
  return {{kLargestFloat, kLargestFloat, kLargestFloat},
          {-kLargestFloat, -kLargestFloat, -kLargestFloat},
          0.0f,
          {0, 0, 0},
          {0, 0, 0},
          0.0};
}

EK_HD double squareAdd(double x, double sum) {
#if defined(__CUDA_ARCH__)
  return fma(x, x, sum);
#else
  return x * x + sum;
#endif
}

// Adds a particle to the measure. A particle with a coordinate that is not finite, or with such a
// velocity while velocities are used, is left out: none of its samples would be finite.
EK_HD void addToBounds(BoundsPartial &b, const EKV3 &p, const EKV3 *velocity) {
  if (!isFinitePoint(p) || (velocity && !isFinitePoint(*velocity)))
    return;
  b.count += 1.0;
  const float xyz[3] = {p.x, p.y, p.z};
  for (int a = 0; a < 3; ++a) {
    b.minimum[a] = minNumber(b.minimum[a], xyz[a]);
    b.maximum[a] = maxNumber(b.maximum[a], xyz[a]);
    const double v = double(xyz[a]);
    b.sum[a] += v;
    b.sumSquares[a] = squareAdd(v, b.sumSquares[a]);
  }
  if (velocity) {
    const EKV3 v = *velocity;
    b.speedSquared = maxNumber(b.speedSquared, v.x * v.x + v.y * v.y + v.z * v.z);
  }
}

EK_HD void mergeBounds(BoundsPartial &into, const BoundsPartial &other) {
  for (int a = 0; a < 3; ++a) {
    into.minimum[a] = minNumber(into.minimum[a], other.minimum[a]);
    into.maximum[a] = maxNumber(into.maximum[a], other.maximum[a]);
    into.sum[a] += other.sum[a];
    into.sumSquares[a] += other.sumSquares[a];
  }
  into.speedSquared = maxNumber(into.speedSquared, other.speedSquared);
  into.count += other.count;
}

// ---- depth slices ------------------------------------------------------------------------------

struct Slices {
  int k0, k1;
  float fraction;
};

// Splits a slice position (already shifted by half a slice) between two neighbouring slices.
EK_HD Slices splitSlices(float position, int32_t slices) {
  const float s = minNumber(maxNumber(position, 0.0f), float(slices - 1));
  const int k0 = int(s);
  return {k0, k0 + 1 < slices ? k0 + 1 : k0, s - float(k0)};
}

// ---- shadow maps -------------------------------------------------------------------------------

// Cube face of a direction from a point light: +x, -x, +y, -y, +z, -z; ties go to x, then y.
EK_HD int cubeFace(float dx, float dy, float dz) {
  const float ax = fabsf(dx), ay = fabsf(dy), az = fabsf(dz);
  if (ax >= ay && ax >= az)
    return dx >= 0.0f ? 0 : 1;
  if (ay >= az)
    return dy >= 0.0f ? 2 : 3;
  return dz >= 0.0f ? 4 : 5;
}

EK_HD int mapOfLight(const VolLight &light, const EKV3 &p) {
  if (light.mapCount == 1)
    return light.firstMap;
  return light.firstMap +
         cubeFace(p.x - light.position[0], p.y - light.position[1], p.z - light.position[2]);
}

struct MapHit {
  float px, py; // texel coordinates, 0 .. size
  float lz;     // depth along the light's forward axis
  float area;   // the texel's cross-section at that depth (not made for a shadow lookup)
};

// Where p lands in a map; false outside it. A shadow lookup needs no texel area, which a
// perspective map pays a square root and a division for.
template <bool kWithArea = true>
EK_HD bool projectToMap(const ShadowMap &m, const EKV3 &p, MapHit &hit) {
  const float *v = m.view;
  const float lx = v[0] * p.x + v[1] * p.y + v[2] * p.z + v[3];
  const float ly = v[4] * p.x + v[5] * p.y + v[6] * p.z + v[7];
  const float lz = v[8] * p.x + v[9] * p.y + v[10] * p.z + v[11];
  float sx, sy;
  if (m.ortho) {
    sx = lx * m.scaleX;
    sy = ly * m.scaleY;
    hit.area = m.texelArea;
  } else {
    if (lz <= m.nearClip)
      return false;
    sx = lx * m.scaleX / lz;
    sy = ly * m.scaleY / lz;
    if (kWithArea)
      hit.area = m.texelArea * lz * lz * (lz / sqrtf(lx * lx + ly * ly + lz * lz));
  }
  hit.px = (sx * 0.5f + 0.5f) * float(m.size);
  hit.py = (0.5f - sy * 0.5f) * float(m.size);
  hit.lz = lz;
  return hit.px >= 0.0f && hit.px < float(m.size) && hit.py >= 0.0f && hit.py < float(m.size);
}

EK_HD Slices mapSlices(const ShadowMap &m, float lz) {
  const float d = m.logDepth ? logf(maxNumber(lz, m.depthStart) / m.depthStart) : lz - m.depthStart;
  return splitSlices(d * m.depthScale - 0.5f, m.slices);
}

// ---- map cells ---------------------------------------------------------------------------------

// The maps sum their deposits in fixed point, kCellScale cells to a unit of optical thickness,
// added with saturation at the full cell, kCellLimit units thick. Integer addition is exact, and
// a saturating sum of amounts that are never negative does not depend on their order either: a map
// comes out the same to the bit whatever threads, and in whatever order, deposit into it. A cell
// that reaches the limit is opaque to anything seen through a twentieth of it (e^-25); overflow
// cannot happen. The unit, 2^-22 (2.4e-7), is twice a float's step on a thickness just below 1.
constexpr float kCellScale = 4194304.0f; // 2^22
constexpr float kCellLimit = 512.0f;     // kFullCell + 1 cells
constexpr MapCell kFullCell = INT32_MAX; // a signed 32-bit number: quick to turn into a float

// A deposit in cells, rounded to the nearest, at most kFullCell; not-a-number and values below
// zero add nothing.
EK_HD MapCell toCell(float value) {
  if (!(value > 0.0f))
    return 0;
  const int64_t cells = int64_t(minNumber(value, kCellLimit) * kCellScale + 0.5f);
  return cells > int64_t(kFullCell) ? kFullCell : MapCell(cells);
}

// The floats of thickness a prefixed column holds, one per slice.
EK_HD const float *prefixedColumn(const MapCell *column) {
  return reinterpret_cast<const float *>(column);
}

template <typename Cell>
EK_HD Cell *texelColumn(Cell *shadowMaps, const ShadowMap &m, int x, int y) {
  return shadowMaps + m.offset +
         (uint64_t(y) * uint64_t(m.size) + uint64_t(x)) * uint64_t(m.slices);
}

// A deposit names every cell to `noted` before it adds to it; the CPU backend flags the memory
// written.
struct NothingNoted {
  EK_HD void operator()(MapCell *) const {}
};

// Adds a deposit `times` times over. The sum saturates at kFullCell like each addition, so one
// addition of the product leaves the cell as that many additions of the deposit would.
template <typename Noted>
EK_HD void addNoted(MapCell *address, float value, Noted &noted, uint32_t times = 1) {
  const MapCell cells = toCell(value);
  if (cells == 0 || times == 0)
    return;
  const uint64_t total = uint64_t(cells) * uint64_t(times);
  noted(address);
  atomicSaturatingAdd(address, total > uint64_t(kFullCell) ? kFullCell : MapCell(total), kFullCell);
}

// Deposits a light sample's coverage into one map, between the slices `s` of its depth: into one
// texel when it covers at most a texel, otherwise spread evenly over a square of up to 15 x 15
// texels.
template <typename Noted = NothingNoted>
EK_HD void depositInMap(const ShadowMap &m, const MapHit &hit, const Slices &s, float coverage,
                        MapCell *shadowMaps, Noted noted = {}) {
  if (coverage <= 1.0f) {
    MapCell *column = texelColumn(shadowMaps, m, int(hit.px), int(hit.py));
    addNoted(column + s.k0, coverage * (1.0f - s.fraction), noted);
    addNoted(column + s.k1, coverage * s.fraction, noted);
    return;
  }
  const float side = ceilf(sqrtf(coverage)); // not-a-number and infinity fail or cap below
  if (!(side >= 1.0f))
    return;
  const int m2 = side >= float(kMaxFootprint) ? kMaxFootprint : int(side);
  const int x0 = int(floorf(hit.px - float(m2) * 0.5f + 0.5f));
  const int y0 = int(floorf(hit.py - float(m2) * 0.5f + 0.5f));
  const float weight = coverage / float(m2 * m2);
  for (int y = y0; y < y0 + m2; ++y) {
    if (y < 0 || y >= m.size)
      continue;
    for (int x = x0; x < x0 + m2; ++x) {
      if (x < 0 || x >= m.size)
        continue;
      MapCell *column = texelColumn(shadowMaps, m, x, y);
      addNoted(column + s.k0, weight * (1.0f - s.fraction), noted);
      addNoted(column + s.k1, weight * s.fraction, noted);
    }
  }
}

EK_HD void depositInMap(const ShadowMap &m, const MapHit &hit, float coverage,
                        MapCell *shadowMaps) {
  depositInMap(m, hit, mapSlices(m, hit.lz), coverage, shadowMaps);
}

// Where a light sample at p lands in the shadow maps of a light: false when the light casts no
// shadow or p lies outside its map.
EK_HD bool lightSampleHit(const VolumeConstants &vol, const VolLight &light, const EKV3 &p,
                          int &map, MapHit &hit) {
  if (light.mapCount < 1)
    return false;
  map = mapOfLight(light, p);
  return projectToMap(vol.maps[map], p, hit);
}

// The optical thickness a light sample adds to its texel: the sample's share of the cloud's
// cross-section spread over the texel's, and 1 where the sample is larger than the texel, just as
// a camera sample covers at most its whole pixel. Without that bound a sparse cloud, whose
// samples each stand for more than a texel, casts a shadow far darker than the cloud looks.
EK_HD float lightSampleThickness(const VolumeConstants &vol, const MapHit &hit) {
  return vol.lightSampleArea / maxNumber(hit.area, vol.lightSampleArea);
}

// One work item of the light pass (the frame's samples are 1): its sample goes into the map of
// every shadowing light.
EK_HD void lightSplatWork(const Frame &f, const VolumeConstants &vol, const EKV3 *positions,
                          const EKV3 *velocities, const WorkItem &work, MapCell *shadowMaps) {
  uint32_t state = 0;
  const EKV3 p = samplePosition(f, positions, velocities, work, state);
  if (!isFinitePoint(p))
    return;
  for (int i = 0; i < vol.lightCount; ++i) {
    int map;
    MapHit hit;
    if (lightSampleHit(vol, vol.lights[i], p, map, hit))
      depositInMap(vol.maps[map], hit, lightSampleThickness(vol, hit), shadowMaps);
  }
}

EK_HD void lightSplatItem(const Frame &f, const VolumeConstants &vol, const EKV3 *positions,
                          const EKV3 *velocities, uint64_t item, MapCell *shadowMaps) {
  lightSplatWork(f, vol, positions, velocities, decodeWorkItem(item, f.repopulation, f.samples),
                 shadowMaps);
}

// The thickness a cell holds: the nearest float.
EK_HD float cellThickness(MapCell cells) { return float(int32_t(cells)) * (1.0f / kCellScale); }

// Optical thickness along a column of cells: each slice becomes everything in front of it plus
// half of itself, a float that replaces the slice's cell (prefixedColumn); the column's total goes
// to `total` when given.
EK_HD void prefixColumn(MapCell *column, int32_t depth, float *total) {
  float sum = 0.0f;
  unsigned char *bytes = reinterpret_cast<unsigned char *>(column);
  EK_UNROLL_16
  for (int32_t k = 0; k < depth; ++k) {
    const float v = cellThickness(column[k]);
    const float thickness = sum + 0.5f * v;
    sum += v;
    // Through bytes: the float takes the place of the cell just read.
    memcpy(bytes + uint64_t(k) * sizeof(float), &thickness, sizeof thickness);
  }
  if (total)
    *total = sum;
}

// Thickness at a fractional slice position of a prefixed column.
EK_HD float columnThickness(const float *column, const Slices &s) {
  const float front = column[s.k0];
  return s.fraction > 0.0f ? front + s.fraction * (column[s.k0 + 1] - front) : front;
}

// The four texels a shadow lookup at `hit` blends: their columns, (x0, y0), (x1, y0), (x0, y1),
// (x1, y1), each kept within the map, and the weights of x1 and y1.
struct TexelTaps {
  const MapCell *column[4];
  float fx, fy;
};

EK_HD TexelTaps texelTaps(const ShadowMap &m, const MapHit &hit, const MapCell *shadowMaps) {
  const float tx = hit.px - 0.5f, ty = hit.py - 0.5f;
  const float fx0 = floorf(tx), fy0 = floorf(ty);
  const int x0 = int(fx0), y0 = int(fy0);
  const int xa = x0 > 0 ? x0 : 0, xb = x0 + 1 < m.size - 1 ? x0 + 1 : m.size - 1;
  const int ya = y0 > 0 ? y0 : 0, yb = y0 + 1 < m.size - 1 ? y0 + 1 : m.size - 1;
  return {{texelColumn(shadowMaps, m, xa, ya), texelColumn(shadowMaps, m, xb, ya),
           texelColumn(shadowMaps, m, xa, yb), texelColumn(shadowMaps, m, xb, yb)},
          tx - fx0,
          ty - fy0};
}

// The bilinear blend of four texels' thicknesses by the weights of texelTaps.
EK_HD float blendTaps(float t00, float t10, float t01, float t11, float fx, float fy) {
  return (1.0f - fy) * ((1.0f - fx) * t00 + fx * t10) + fy * ((1.0f - fx) * t01 + fx * t11);
}

// Thickness between a light and a point at the slices `s` of its depth, bilinear over four
// texels of the light's map.
EK_HD float shadowThickness(const ShadowMap &m, const MapHit &hit, const Slices &s,
                            const MapCell *shadowMaps) {
  const TexelTaps taps = texelTaps(m, hit, shadowMaps);
  auto tap = [&](int i) { return columnThickness(prefixedColumn(taps.column[i]), s); };
  return blendTaps(tap(0), tap(1), tap(2), tap(3), taps.fx, taps.fy);
}

// Where a point lies in a shadowing light's maps: its map, its place there and its depth slices.
struct ShadowLookup {
  int map;
  bool inside; // false outside the map (then the light is not shadowed there)
  MapHit hit;
  Slices slices;
};

EK_HD void shadowLookup(const VolumeConstants &vol, const VolLight &light, const EKV3 &p,
                        ShadowLookup &out) {
  out.map = mapOfLight(light, p);
  const ShadowMap &m = vol.maps[out.map];
  out.inside = projectToMap<false>(m, p, out.hit);
  if (out.inside)
    out.slices = mapSlices(m, out.hit.lz);
}

// ---- camera depth map and shading --------------------------------------------------------------

struct CameraSample {
  WorkItem work;
  EKV3 position;
  uint32_t pixel;
  Slices slices;
  float coverage; // camSampleArea / max(cross-section, camSampleArea): at most the whole pixel
};

// Places a work item's sample, given its copy's position (copyPosition), in its pixel and depth
// slices; false when it is culled.
EK_HD bool cameraSampleOfCopy(const Frame &f, const VolumeConstants &vol, const EKV3 &copy,
                              const EKV3 *velocities, const WorkItem &work, CameraSample &out) {
  out.work = work;
  uint32_t state = 0;
  out.position = samplePositionOfCopy(f, copy, velocities, out.work, state);
  PixelHit hit;
  CameraPoint c;
  if (!projectSample(f, out.position, state, hit, c))
    return false;
  const float area = pixelCrossSection(f, c, hit);
  out.pixel = uint32_t(hit.iy) * uint32_t(f.width) + uint32_t(hit.ix);
  out.slices =
      splitSlices((hit.depth - vol.camDepthStart) * vol.camDepthScale - 0.5f, vol.camSlices);
  out.coverage = vol.camSampleArea / maxNumber(area, vol.camSampleArea);
  return true;
}

// cameraSampleOfCopy, given the particle's position.
EK_HD bool cameraSampleFrom(const Frame &f, const VolumeConstants &vol, const EKV3 &particle,
                            const EKV3 *velocities, const WorkItem &work, CameraSample &out) {
  return cameraSampleOfCopy(f, vol, copyPosition(f, particle, work), velocities, work, out);
}

EK_HD bool cameraSample(const Frame &f, const VolumeConstants &vol, const EKV3 *positions,
                        const EKV3 *velocities, const WorkItem &work, CameraSample &out) {
  return cameraSampleFrom(f, vol, positions[work.particle], velocities, work, out);
}

template <typename Cell>
EK_HD Cell *cameraColumn(const VolumeConstants &vol, Cell *cameraDepth, uint32_t pixel) {
  return cameraDepth + uint64_t(pixel) * uint64_t(vol.camSlices);
}

// The camera sample's coverage, split between its two slices of its pixel's column; `times`
// deposits the same sample that many times (the coinciding samples of a copy).
template <typename Noted = NothingNoted>
EK_HD void depositCameraSample(const VolumeConstants &vol, const CameraSample &s,
                               MapCell *cameraDepth, Noted noted = {}, uint32_t times = 1) {
  MapCell *column = cameraColumn(vol, cameraDepth, s.pixel);
  addNoted(column + s.slices.k0, s.coverage * (1.0f - s.slices.fraction), noted, times);
  addNoted(column + s.slices.k1, s.coverage * s.slices.fraction, noted, times);
}

EK_HD void camSplatWork(const Frame &f, const VolumeConstants &vol, const EKV3 *positions,
                        const EKV3 *velocities, const WorkItem &work, MapCell *cameraDepth) {
  CameraSample s;
  if (!cameraSample(f, vol, positions, velocities, work, s))
    return;
  depositCameraSample(vol, s, cameraDepth);
}

EK_HD void camSplatItem(const Frame &f, const VolumeConstants &vol, const EKV3 *positions,
                        const EKV3 *velocities, uint64_t item, MapCell *cameraDepth) {
  camSplatWork(f, vol, positions, velocities, decodeWorkItem(item, f.repopulation, f.samples),
               cameraDepth);
}

// Distance attenuation of a light by its falloff mode.
EK_HD float distanceFactor(int32_t mode, float radius, float inner, float dist) {
  switch (mode) {
  case EK_FALLOFF_INVERSE_SQUARE:
    return radius > 0.0f ? radius * radius / maxNumber(dist * dist, 1e-6f) : 1.0f;
  case EK_FALLOFF_INVERSE_SQUARE_CLAMPED:
    return radius > 0.0f ? minNumber(radius * radius / maxNumber(dist * dist, 1e-6f), 1.0f) : 1.0f;
  case EK_FALLOFF_INVERSE:
    return radius > 0.0f ? radius / maxNumber(dist, 1e-6f) : 1.0f;
  case EK_FALLOFF_INVERSE_CLAMPED:
    return radius > 0.0f ? minNumber(radius / maxNumber(dist, 1e-6f), 1.0f) : 1.0f;
  case EK_FALLOFF_RAMP:
    if (dist <= inner)
      return 1.0f;
    if (dist >= radius)
      return 0.0f;
    return (radius - dist) / maxNumber(radius - inner, 1e-6f);
  case EK_FALLOFF_STEP:
    return dist <= radius ? 1.0f : 0.0f;
  default:
    return 1.0f;
  }
}

// Smooth spot cone between the outer and the inner angle; a hard edge when they coincide.
EK_HD float coneFactor(const VolLight &light, float cs) {
  const float width = light.cosInner - light.cosOuter;
  if (width > 1e-6f) {
    const float t = minNumber(maxNumber((cs - light.cosOuter) / width, 0.0f), 1.0f);
    return t * t * (3.0f - 2.0f * t);
  }
  return cs >= light.cosOuter ? 1.0f : 0.0f;
}

// Henyey-Greenstein phase without the 1 / (4 pi): 1 for isotropic scattering.
EK_HD float phaseFactor(float g, float viewDotLight) {
  if (fabsf(g) < kMinAnisotropy)
    return 1.0f;
  const float q = 1.0f + g * g + 2.0f * g * viewDotLight;
  return (1.0f - g * g) / (q * sqrtf(q));
}

// Light reaching a point from one light (colour not yet applied): falloff, cone, phase, shadow.
// `lookup`, when given, is the point's shadowLookup for this light, made beforehand.
EK_HD float lightArriving(const VolumeConstants &vol, const VolLight &light, const EKV3 &p,
                          const float view[3], const ShadowLookup *lookup,
                          const MapCell *shadowMaps) {
  float l[3];
  float c = 1.0f;
  if (light.type == EK_LIGHT_DIRECTIONAL) {
    l[0] = -light.direction[0];
    l[1] = -light.direction[1];
    l[2] = -light.direction[2];
  } else {
    const float d[3] = {light.position[0] - p.x, light.position[1] - p.y, light.position[2] - p.z};
    const float dist = sqrtf(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (dist <= kMinLightDistance)
      return 0.0f;
    for (int a = 0; a < 3; ++a)
      l[a] = d[a] / dist;
    c = distanceFactor(light.falloff, light.falloffRadius, light.falloffInner, dist);
    if (light.type == EK_LIGHT_SPOT) {
      const float cs =
          -(l[0] * light.direction[0] + l[1] * light.direction[1] + l[2] * light.direction[2]);
      c *= coneFactor(light, cs);
    }
  }
  if (c <= 0.0f)
    return 0.0f;
  c *= phaseFactor(vol.anisotropy, view[0] * l[0] + view[1] * l[1] + view[2] * l[2]);
  if (light.mapCount >= 1) {
    ShadowLookup own;
    if (!lookup) {
      shadowLookup(vol, light, p, own);
      lookup = &own;
    }
    if (lookup->inside)
      c *= expf(-shadowThickness(vol.maps[lookup->map], lookup->hit, lookup->slices, shadowMaps));
  }
  return c;
}

EK_HD float lightArriving(const VolumeConstants &vol, const VolLight &light, const EKV3 &p,
                          const float view[3], const MapCell *shadowMaps) {
  return lightArriving(vol, light, p, view, nullptr, shadowMaps);
}

// How much of a placed camera sample the camera sees: its opacity, dimmed by the medium in front
// of it in its pixel.
EK_HD float cameraSampleWeight(const VolumeConstants &vol, const CameraSample &s,
                               const MapCell *cameraDepth) {
  const float *column = prefixedColumn(cameraColumn(vol, cameraDepth, s.pixel));
  const float transmittance = expf(-columnThickness(column, s.slices));
  const float opacity = 1.0f - expf(-s.coverage);
  return transmittance * opacity;
}

// The unit direction from p towards the camera (zero at the camera itself).
EK_HD void towardsCamera(const VolumeConstants &vol, const EKV3 &p, float view[3]) {
  view[0] = vol.cameraPosition.x - p.x;
  view[1] = vol.cameraPosition.y - p.y;
  view[2] = vol.cameraPosition.z - p.z;
  const float viewLength = sqrtf(view[0] * view[0] + view[1] * view[1] + view[2] * view[2]);
  if (viewLength > 0.0f)
    for (int a = 0; a < 3; ++a)
      view[a] /= viewLength;
}

// The light reaching p from the ambient and every light, colours applied; each light's factor
// (lightArriving) is handed to share(i, c) when it is above zero. `lookups`, when given, holds p's
// shadowLookup for every light that casts shadows, made beforehand.
template <typename Share>
EK_HD void lightAtPoint(const VolumeConstants &vol, const EKV3 &p, const ShadowLookup *lookups,
                        const MapCell *shadowMaps, float light[3], Share &share) {
  float view[3];
  towardsCamera(vol, p, view);
  for (int a = 0; a < 3; ++a)
    light[a] = vol.ambient[a];
  for (int i = 0; i < vol.lightCount; ++i) {
    const VolLight &source = vol.lights[i];
    const float c =
        lightArriving(vol, source, p, view, lookups ? lookups + i : nullptr, shadowMaps);
    if (c <= 0.0f)
      continue;
    share(i, c);
    for (int a = 0; a < 3; ++a)
      light[a] += c * source.color[a];
  }
}

// A share for lightAtPoint that keeps nothing.
struct NoLightShares {
  EK_HD void operator()(int, float) const {}
};

// What a sample seen with `weight`, of a particle of colour `color`, sends to the camera under
// `light` and the medium's emission.
EK_HD Rgba32f shadedValue(float weight, const Rgba8 &color, const float light[3], float emission) {
  return {weight * (float(color.r) * kColorScale) * (light[0] + emission),
          weight * (float(color.g) * kColorScale) * (light[1] + emission),
          weight * (float(color.b) * kColorScale) * (light[2] + emission), 0.0f};
}

// The light a placed camera sample of a particle of colour `color` sends to the camera, weighted
// by how much of it the camera sees. Returns false for invisible samples. `lookups`, when given,
// holds the sample's shadowLookup for every light that casts shadows, made beforehand.
EK_HD bool shadeCameraSample(const VolumeConstants &vol, const CameraSample &s, const Rgba8 &color,
                             const ShadowLookup *lookups, const MapCell *shadowMaps,
                             const MapCell *cameraDepth, SplatSample &out) {
  const float weight = cameraSampleWeight(vol, s, cameraDepth);
  if (weight <= kMinWeight)
    return false;
  float light[3];
  NoLightShares shares;
  lightAtPoint(vol, s.position, lookups, shadowMaps, light, shares);
  out.pixel = s.pixel;
  out.value = shadedValue(weight, color, light, vol.emission);
  return true;
}

// One work item of the shading pass; false for culled or invisible samples.
EK_HD bool shadeWork(const Frame &f, const VolumeConstants &vol, const EKV3 *positions,
                     const Rgba8 *colors, const EKV3 *velocities, const WorkItem &work,
                     const MapCell *shadowMaps, const MapCell *cameraDepth, SplatSample &out) {
  CameraSample s;
  return cameraSample(f, vol, positions, velocities, work, s) &&
         shadeCameraSample(vol, s, colors[s.work.particle], nullptr, shadowMaps, cameraDepth, out);
}

EK_HD bool shadeItem(const Frame &f, const VolumeConstants &vol, const EKV3 *positions,
                     const Rgba8 *colors, const EKV3 *velocities, uint64_t item,
                     const MapCell *shadowMaps, const MapCell *cameraDepth, SplatSample &out) {
  return shadeWork(f, vol, positions, colors, velocities,
                   decodeWorkItem(item, f.repopulation, f.samples), shadowMaps, cameraDepth, out);
}

// Colour through the exposure curve, alpha from the pixel's total optical thickness.
EK_HD void resolveVolPixel(const Rgba32f *accumulator, const float *totalDepth, Rgba8 *image,
                           Rgba32f *imageFloat, int32_t i, float exposure) {
  const Rgba32f a = accumulator[i];
  const Rgba32f v = {exposeChannel(a.r, exposure), exposeChannel(a.g, exposure),
                     exposeChannel(a.b, exposure), 1.0f - expf(-totalDepth[i])};
  if (imageFloat)
    imageFloat[i] = v;
  if (image)
    image[i] = {gammaByte(v.r), gammaByte(v.g), gammaByte(v.b), 255};
}

} // namespace ek
