// Where the light pass's samples landed in the shadow maps, kept for the passes after it. Without
// motion blur a copy's light sample and every camera sample of that copy lie at the same point, so
// the shading's lookups in the shadow maps are the ones the light pass made: keeping them spares
// the shading a projection and a logarithm for each light and sample.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>

#include "cpu/page_array.h"
#include "kernels/volume.h"

namespace ek {

// A ShadowLookup without what shadowThickness does not read (the depth and the texel area).
struct KeptLookup {
  float px, py;
  float fraction;
  uint16_t k0;
  uint8_t map;
  uint8_t inside;
};

inline KeptLookup keptLookup(int map, const MapHit &hit, const Slices &slices) {
  return {hit.px, hit.py, slices.fraction, uint16_t(slices.k0), uint8_t(map), 1};
}

// The lookup as shadowLookup makes it, for what shadowThickness and lightArriving read.
inline ShadowLookup lookupOf(const KeptLookup &k, const VolumeConstants &vol) {
  ShadowLookup l;
  l.map = k.map;
  l.inside = k.inside != 0;
  l.hit = {k.px, k.py, 0.0f, 0.0f};
  const int slices = vol.maps[k.map].slices;
  l.slices = {k.k0, k.k0 + 1 < slices ? k.k0 + 1 : k.k0, k.fraction};
  return l;
}

// The lookups of one light pass: one per light for each copy of the particles in visiting order
// (copy index * lightCount + light), for the constants and copies that pass had.
class KeptLookups {
public:
  static constexpr uint64_t kMaxLookups = uint64_t(1) << 24;

  // Room for the lookups of a light pass over `copies` copies, for the passes that follow with
  // the same lights, maps and copies of the frame; null (nothing kept) where they do not fit.
  KeptLookup *keepFor(const VolumeConstants &vol, const Frame &frame, uint64_t copies) {
    forget();
    const uint64_t lights = uint64_t(vol.lightCount > 0 ? vol.lightCount : 0);
    if (lights == 0 || copies == 0 || copies > kMaxLookups / lights)
      return nullptr;
    for (int m = 0; m < vol.shadowMapCount; ++m)
      if (vol.maps[m].slices > UINT16_MAX)
        return nullptr;
    try {
      lookups_.resizeForOverwrite(copies * lights);
    } catch (const std::bad_alloc &) {
      return nullptr;
    }
    vol_ = vol;
    repopulation_ = frame.repopulation;
    radius_ = frame.radius;
    copies_ = copies;
    kept_ = true;
    return lookups_.data();
  }

  void forget() { kept_ = false; }

  // The lookups kept for a pass with these constants over these copies; null where none were.
  const KeptLookup *find(const VolumeConstants &vol, const Frame &frame, uint64_t copies) const {
    if (vol.lightCount < 0 || vol.lightCount > kMaxVolumeLights || vol.shadowMapCount < 0 ||
        vol.shadowMapCount > kMaxShadowMaps)
      return nullptr;
    const bool same =
        kept_ && copies == copies_ && frame.repopulation == repopulation_ &&
        std::memcmp(&frame.radius, &radius_, sizeof(float)) == 0 &&
        vol.lightCount == vol_.lightCount && vol.shadowMapCount == vol_.shadowMapCount &&
        std::memcmp(vol.lights, vol_.lights, sizeof(VolLight) * uint64_t(vol.lightCount)) == 0 &&
        std::memcmp(vol.maps, vol_.maps, sizeof(ShadowMap) * uint64_t(vol.shadowMapCount)) == 0;
    return same ? lookups_.data() : nullptr;
  }

private:
  PageArray<KeptLookup> lookups_;
  bool kept_ = false;
  VolumeConstants vol_{};
  int32_t repopulation_ = 0;
  float radius_ = 0.0f;
  uint64_t copies_ = 0;
};

} // namespace ek
