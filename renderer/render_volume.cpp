#include "render_volume.h"

#include <algorithm>
#include <cmath>

#include "kernels/volume.h"
#include "volume_setup.h"

namespace ek {

namespace {

constexpr uint32_t kBoundsBlocks = 1024;
constexpr float kMinPad = 0.001f;
constexpr float kCopySpread = 3.0f; // repopulated copies reach three standard deviations

// Grows a buffer to hold `needed` elements; a larger buffer is kept.
template <typename T>
bool ensureCapacity(EKContext *c, DeviceBuffer<T> &buffer, uint64_t needed, const char *name) {
  return needed <= buffer.size() || allocate(c, buffer, needed, name);
}

template <typename T>
bool allocateOnce(EKContext *c, DeviceBuffer<T> &buffer, uint64_t count, const char *name) {
  return buffer || allocate(c, buffer, count, name);
}

// Measures the cloud: bounds, largest squared speed and moments, read back to the host; with the
// particles' space order when the volumetric passes follow.
bool measureCloud(EKContext *c, const EKV3 *velocities, float bounds[kBoundsFloats],
                  double moments[kMoments], bool spaceOrder) {
  Device &device = *c->backend;
  const float initial[7] = {kLargestFloat,  kLargestFloat,  kLargestFloat, -kLargestFloat,
                            -kLargestFloat, -kLargestFloat, 0.0f};
  if (!allocateOnce(c, c->bounds, kBoundsFloats, "bounds") ||
      !checkDevice(c, device.copyToDevice(c->bounds.get(), initial, sizeof initial),
                   "init bounds") ||
      !allocateOnce(c, c->moments, kMoments, "moments") ||
      !checkDevice(c, device.fill(c->moments.get(), 0, kMoments * sizeof(double)), "init moments"))
    return false;
  if (c->count > 0) {
    device.launch(kBoundsBlocks, BoundsArgs{c->positions.get(), velocities, c->count,
                                            c->bounds.get(), c->moments.get(), spaceOrder});
    if (!checkDevice(c, device.takeLaunchError(), "bounds kernel"))
      return false;
  }
  std::fill(moments, moments + kMoments, 0.0);
  return checkDevice(c, device.copyToHost(bounds, c->bounds.get(), 7 * sizeof(float)),
                     "read bounds") &&
         checkDevice(c, device.copyToHost(moments, c->moments.get(), kMoments * sizeof(double)),
                     "read moments");
}

// The box every sample position lies in: bounds widened by the shutter's travel and the copies'
// spread.
Box paddedBox(const float bounds[kBoundsFloats], uint64_t count, const Frame &frame) {
  Box box{{bounds[0], bounds[1], bounds[2]}, {bounds[3], bounds[4], bounds[5]}};
  if (count == 0)
    box = {{-1, -1, -1}, {1, 1, 1}};
  const float pad = std::sqrt(bounds[6]) * (frame.shutter * 0.5f) +
                    frame.radius * kCopySpread * (frame.repopulation > 0 ? 1.0f : 0.0f) + kMinPad;
  box.min = {box.min.x - pad, box.min.y - pad, box.min.z - pad};
  box.max = {box.max.x + pad, box.max.y + pad, box.max.z + pad};
  return box;
}

float densityPerParticle(const Box &robust, uint64_t count, float density) {
  if (count == 0 || !(density > 0.0f))
    return 0.0f;
  const float sx = std::max(robust.max.x - robust.min.x, 0.001f);
  const float sy = std::max(robust.max.y - robust.min.y, 0.001f);
  const float sz = std::max(robust.max.z - robust.min.z, 0.001f);
  return (sx * sy + sy * sz + sx * sz) * 0.5f * density / float(count);
}

void mark(PassTimer *timer, PassTimer::Pass pass) {
  if (timer)
    timer->mark(pass);
}

bool renderShadowMaps(EKContext *c, const VolumeConstants &vol, uint64_t cells, const Frame &frame,
                      const EKV3 *velocities, PassTimer *timer) {
  Device &device = *c->backend;
  if (!ensureCapacity(c, c->shadowMaps, cells, "shadow maps"))
    return false;
  device.fillAsync(c->shadowMaps.get(), 0, cells * sizeof(MapCell));
  mark(timer, PassTimer::Clears);
  Frame oneSample = frame;
  oneSample.samples = 1;
  uint64_t work = 0;
  if (!splatWork(c, oneSample, c->count, work))
    return false;
  if (work > 0) {
    device.launch(
        blocksFor(device, work, kBlockSize),
        LightSplatArgs{oneSample, vol, c->positions.get(), velocities, work, c->shadowMaps.get()});
  }
  mark(timer, PassTimer::LightSplat);
  for (int m = 0; m < vol.shadowMapCount; ++m) {
    const ShadowMap &map = vol.maps[m];
    const uint64_t texels = uint64_t(map.size) * uint64_t(map.size);
    device.launch(blocksFor(device, texels, kBlockSize),
                  PrefixArgs{c->shadowMaps.get() + map.offset, texels, map.slices, nullptr});
  }
  mark(timer, PassTimer::ShadowPrefix);
  return checkDevice(c, device.takeLaunchError(), "shadow maps");
}

} // namespace

bool cameraDepthConstants(EKContext *c, const EKCamera &camera, const EKRenderSettings &settings,
                          const Frame &frame, const EKV3 *velocities, VolumeConstants &vol) {
  KeptCloudMeasure &kept = c->depthMeasure;
  if (!kept.valid || kept.edition != c->particleEdition || kept.velocities != velocities) {
    kept.valid = false;
    if (!measureCloud(c, velocities, kept.bounds, kept.moments, false))
      return false;
    kept.valid = true;
    kept.edition = c->particleEdition;
    kept.velocities = velocities;
  }
  const Box padded = paddedBox(kept.bounds, uint64_t(kept.moments[kMoments - 1]), frame);
  vol = VolumeConstants{};
  buildVolumeConstants(camera, settings, frame, nullptr, 0, padded, 0.0f, vol);
  return true;
}

bool renderVolume(EKContext *c, const EKCamera &camera, const EKRenderSettings &settings,
                  const Frame &frame, const EKLight *lights, int32_t lightCount,
                  const EKV3 *velocities, PassTimer *timer, VolumeConstants *used,
                  const ShadeLayers *layers) {
  Device &device = *c->backend;
  const uint64_t pixels = uint64_t(frame.width) * uint64_t(frame.height);
  float bounds[kBoundsFloats] = {};
  double moments[kMoments];
  if (!measureCloud(c, velocities, bounds, moments, true))
    return false;
  mark(timer, PassTimer::Bounds);
  // Broken particles are left out of the measure, so the cloud is sized by the measured ones.
  const uint64_t measured = uint64_t(moments[kMoments - 1]);
  const Box padded = paddedBox(bounds, measured, frame);
  const Box robust = robustBox(moments, measured, padded);
  const float densityScale = densityPerParticle(robust, measured, settings.density);

  VolumeConstants vol{};
  const uint64_t shadowCells =
      buildVolumeConstants(camera, settings, frame, lights, lightCount, padded, densityScale, vol);
  if (shadowCells > 0 && !renderShadowMaps(c, vol, shadowCells, frame, velocities, timer))
    return false;

  const uint64_t depthCells = pixels * uint64_t(vol.camSlices);
  if (!ensureCapacity(c, c->cameraDepth, depthCells, "camera depth map"))
    return false;
  device.fillAsync(c->cameraDepth.get(), 0, depthCells * sizeof(MapCell));
  mark(timer, PassTimer::Clears);
  uint64_t work = 0;
  if (!splatWork(c, frame, c->count, work))
    return false;
  if (work > 0)
    device.launch(
        blocksFor(device, work, kBlockSize),
        CamSplatArgs{frame, vol, c->positions.get(), velocities, work, c->cameraDepth.get()});
  mark(timer, PassTimer::CameraSplat);
  device.launch(blocksFor(device, pixels, kBlockSize),
                PrefixArgs{c->cameraDepth.get(), pixels, vol.camSlices, c->totalDepth.get()});
  mark(timer, PassTimer::CameraPrefix);
  if (!checkDevice(c, device.takeLaunchError(), "camera depth map"))
    return false;

  device.fillAsync(c->accumulator.get(), 0, pixels * sizeof(Rgba32f));
  const ShadeLayers shadeLayers = layers ? *layers : ShadeLayers{};
  if (shadeLayers.sums)
    device.fillAsync(shadeLayers.sums, 0,
                     pixels * uint64_t(shadeLayers.plan.stride) * sizeof(float));
  mark(timer, PassTimer::Clears);
  if (work > 0)
    device.launch(blocksFor(device, work, kBlockSize),
                  ShadeArgs{frame, vol, c->positions.get(), c->colors.get(), velocities, work,
                            c->shadowMaps.get(), c->cameraDepth.get(), c->accumulator.get(),
                            shadeLayers});
  mark(timer, PassTimer::Shade);
  if (used)
    *used = vol;
  return checkDevice(c, device.takeLaunchError(), "lighting");
}

} // namespace ek
