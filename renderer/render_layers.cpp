// ekRenderLayers and the layer steps of the frame pipeline: the request's check, the layer
// buffers, the sums the beauty's passes gather beside it, the layer resolve and the download.
#include "render_layers.h"

#include <algorithm>
#include <string>

#include "kernels/depth_moments.h"
#include "kernels/layers.h"
#include "render_volume.h"

namespace ek {

namespace {

// The slot of the job's targets that a layer of `kind` (and, for a light's part, `light`) fills.
float *&targetOf(LayerTargets &t, int32_t kind, int32_t light) {
  switch (kind) {
  case EK_LAYER_COVERAGE:
    return t.coverage;
  case EK_LAYER_RAW:
    return t.raw;
  case EK_LAYER_DEPTH:
    return t.depth;
  case EK_LAYER_FORWARD:
    return t.forward;
  case EK_LAYER_BACKWARD:
    return t.backward;
  case EK_LAYER_EMISSION:
    return t.emission;
  case EK_LAYER_AMBIENT:
    return t.ambient;
  default:
    return t.lights[light];
  }
}

// Calls visit(pointer, channels) for every layer image slot of `t`, asked for or not.
template <typename Visit> void forEachTarget(LayerTargets &t, Visit &&visit) {
  for (int32_t kind = EK_LAYER_COVERAGE; kind < EK_LAYER_LIGHT; ++kind)
    visit(targetOf(t, kind, 0), layerChannels(kind));
  for (int32_t light = 0; light < kMaxVolumeLights; ++light)
    visit(targetOf(t, EK_LAYER_LIGHT, light), layerChannels(EK_LAYER_LIGHT));
}

const char *kindName(int32_t kind) {
  switch (kind) {
  case EK_LAYER_AMBIENT:
    return "ambient";
  case EK_LAYER_LIGHT:
    return "light";
  default:
    return "such";
  }
}

// The kinds the additive look has: its only part is emission.
bool additiveHas(int32_t kind) { return kind != EK_LAYER_AMBIENT && kind != EK_LAYER_LIGHT; }

// Gives each sum the job's layers need its place in a pixel's record: the volumetric shading's,
// or the additive splat's (whose only part, emission, is the beauty itself).
void planSums(LayerJob &job, bool volumetric, bool velocities) {
  int32_t stride = 0;
  auto place = [&stride](bool wanted, int32_t floats) {
    if (!wanted)
      return int32_t(-1);
    const int32_t offset = stride;
    stride += floats;
    return offset;
  };
  const LayerTargets &t = job.caller;
  const bool motion = velocities && (t.forward || t.backward);
  if (!volumetric) {
    AdditiveSums &additive = job.additive;
    additive.motion = place(motion, kMotionStepFloats);
    additive.moments = place(t.depth, kDepthMomentFloats);
    additive.stride = stride;
    return;
  }
  LayerPlan &plan = job.plan;
  plan.colorSum = place(t.emission || t.ambient, kPartFloats);
  for (int l = 0; l < kMaxVolumeLights; ++l)
    plan.lights[l] = place(t.lights[l], kPartFloats);
  plan.motion = place(motion, kMotionFloats);
  plan.stride = stride;
}

// Floats per pixel of the layer sums, in either look.
uint64_t sumFloats(const LayerJob &job) {
  return uint64_t(job.plan.stride > 0 ? job.plan.stride : job.additive.stride);
}

// The depth range of the camera depth constants in `vol`.
float depthSpan(const VolumeConstants &vol) {
  return vol.camDepthScale > 0.0f ? float(vol.camSlices) / vol.camDepthScale : 1.0f;
}

// The colours that turn the volumetric look's sums into its parts.
PartColors partColorsOf(const VolumeConstants &vol) {
  PartColors colors{};
  for (int c = 0; c < 3; ++c) {
    colors.emission[c] = vol.emission;
    colors.ambient[c] = vol.ambient[c];
    for (int l = 0; l < vol.lightCount; ++l)
      colors.lights[l][c] = vol.lights[l].color[c];
  }
  return colors;
}

template <typename T>
bool fitBuffer(EKContext *c, DeviceBuffer<T> &buffer, uint64_t count, const char *name) {
  return buffer.size() == count || allocate(c, buffer, count, name);
}

} // namespace

int32_t layerChannels(int32_t kind) {
  switch (kind) {
  case EK_LAYER_COVERAGE:
  case EK_LAYER_DEPTH:
    return 1;
  case EK_LAYER_FORWARD:
  case EK_LAYER_BACKWARD:
    return 2;
  case EK_LAYER_RAW:
  case EK_LAYER_EMISSION:
  case EK_LAYER_AMBIENT:
  case EK_LAYER_LIGHT:
    return 3;
  default:
    return 0;
  }
}

bool planLayers(EKContext *context, const char *name, const EKRenderSettings &settings,
                const EKLight *lights, int32_t lightCount, const EKLayer *layers, int32_t count,
                LayerJob &job) {
  auto fail = [&](const std::string &reason) {
    setError(context, std::string(name) + ": " + reason);
    return false;
  };
  if (count < 0 || (count > 0 && !layers))
    return fail("invalid layer list");
  const bool volumetric = settings.mode == EK_MODE_VOLUMETRIC;
  const int32_t usedLights = lights ? std::clamp(lightCount, 0, kMaxVolumeLights) : 0;
  job = LayerJob{};
  for (int32_t n = 0; n < count; ++n) {
    const EKLayer &layer = layers[n];
    const int32_t channels = layerChannels(layer.kind);
    if (channels == 0)
      return fail("unknown layer kind " + std::to_string(layer.kind));
    if (!layer.pixels)
      return fail("layer " + std::to_string(n) + " has no pixels");
    if (!volumetric && !additiveHas(layer.kind))
      return fail(std::string("the additive look has no ") + kindName(layer.kind) + " layer");
    const bool isLight = layer.kind == EK_LAYER_LIGHT;
    if (isLight && (layer.light < 0 || layer.light >= usedLights))
      return fail("no light " + std::to_string(layer.light) + " for its layer (" +
                  std::to_string(usedLights) + " lights used)");
    float *&target = targetOf(job.caller, layer.kind, isLight ? layer.light : 0);
    if (target)
      return fail("layer " + std::to_string(n) + " asked for twice");
    target = layer.pixels;
    job.channels += channels;
  }
  planSums(job, volumetric, context->velocitiesValid);
  return true;
}

bool fitLayerBuffers(EKContext *c, const LayerJob &job, uint64_t pixels) {
  if (sumFloats(job) > 0 && !fitBuffer(c, c->layerSums, pixels * sumFloats(job), "layer sums"))
    return false;
  return c->backend->usesHostMemory() ||
         fitBuffer(c, c->layerImages, pixels * uint64_t(job.channels), "layer images");
}

ShadeLayers shadeLayersOf(EKContext *c, const LayerJob &job) {
  if (job.plan.stride == 0)
    return ShadeLayers{};
  return {job.plan, c->velocitiesValid ? c->velocities.get() : nullptr, c->layerSums.get()};
}

bool splatAdditiveLayers(EKContext *c, const LayerJob &job, const EKCamera &camera,
                         const EKRenderSettings &settings, const SplatArgs &beauty,
                         VolumeConstants &vol) {
  Device &device = *c->backend;
  const uint32_t blocks = blocksFor(device, beauty.total, kBlockSize);
  const AdditiveSums &plan = job.additive;
  if (plan.stride == 0) { // the layers come from the beauty's own sums
    if (beauty.total > 0)
      device.launch(blocks, beauty);
    return true;
  }
  if (plan.moments >= 0 &&
      !cameraDepthConstants(c, camera, settings, beauty.frame, beauty.velocities, vol))
    return false;
  const uint64_t pixels = uint64_t(beauty.frame.width) * uint64_t(beauty.frame.height);
  device.fillAsync(c->layerSums.get(), 0, pixels * uint64_t(plan.stride) * sizeof(float));
  if (beauty.total > 0)
    device.launch(blocks, AdditiveLayerSplatArgs{
                              beauty, plan, plan.motion >= 0 ? c->velocities.get() : nullptr,
                              vol.camDepthStart, 2.0f / depthSpan(vol), c->layerSums.get()});
  return checkDevice(c, device.takeLaunchError(), "layered splat");
}

void resolveLayers(EKContext *c, const LayerJob &job, const VolumeConstants &vol, bool volumetric,
                   bool direct, const Rgba32f *image, uint32_t blocks, int32_t pixelCount,
                   float exposure) {
  LayerTargets targets = job.caller;
  if (!direct) { // each layer asked for gets its range of the context's layer images
    float *next = c->layerImages.get();
    forEachTarget(targets, [&](float *&target, int32_t channels) {
      if (!target)
        return;
      target = next;
      next += uint64_t(pixelCount) * uint64_t(channels);
    });
  }
  if (volumetric)
    c->backend->launch(blocks, ResolveLayersArgs{c->accumulator.get(), image, c->totalDepth.get(),
                                                 c->cameraDepth.get(),
                                                 job.plan.stride > 0 ? c->layerSums.get() : nullptr,
                                                 job.plan, partColorsOf(vol), targets,
                                                 vol.camSlices, vol.camDepthStart,
                                                 vol.camDepthScale, pixelCount, exposure});
  else
    c->backend->launch(
        blocks, ResolveAdditiveLayersArgs{c->accumulator.get(), image,
                                          job.additive.stride > 0 ? c->layerSums.get() : nullptr,
                                          job.additive, targets, vol.camDepthStart, depthSpan(vol),
                                          pixelCount, exposure});
}

bool downloadLayers(EKContext *c, const LayerJob &job, uint64_t pixels) {
  LayerTargets caller = job.caller;
  const float *next = c->layerImages.get();
  bool ok = true;
  forEachTarget(caller, [&](float *&target, int32_t channels) {
    if (!target || !ok)
      return;
    const uint64_t floats = pixels * uint64_t(channels);
    ok = checkDevice(c, c->backend->copyToHost(target, next, floats * sizeof(float)),
                     "download layer");
    next += floats;
  });
  return ok;
}

} // namespace ek

extern "C" {

EK_API int32_t ekLayerChannels(int32_t kind) { return ek::layerChannels(kind); }

EK_API int32_t ekRenderLayers(EKContext *context, const EKCamera *camera,
                              const EKRenderSettings *settings, const EKLight *lights,
                              int32_t lightCount, const EKLayer *layers, int32_t layerCount,
                              uint8_t *image8, float *imageFloat, float *gpuMs) {
  constexpr const char *kName = "ekRenderLayers";
  return ek::enter(context, kName, [&]() -> int32_t {
    ek::LayerJob job;
    if (settings &&
        !ek::planLayers(context, kName, *settings, lights, lightCount, layers, layerCount, job))
      return 1;
    return ek::renderFrame(context, kName, camera, settings, lights, lightCount,
                           layerCount > 0 ? &job : nullptr, image8, imageFloat, gpuMs);
  });
}

} // extern "C"
