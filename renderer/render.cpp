// ekRender: one image from the particles of a context, in the additive or the volumetric look,
// and the frame pipeline that ekRenderLayers shares.
#include <limits>
#include <string>

#include "context.h"
#include "frame_builder.h"
#include "render_layers.h"
#include "render_volume.h"
#include "request_check.h"

namespace {

// Makes `buffer` hold one element per pixel, unless it already does.
template <typename T>
bool fitBuffer(EKContext *c, ek::DeviceBuffer<T> &buffer, uint64_t pixels, const char *name) {
  return buffer.size() == pixels || ek::allocate(c, buffer, pixels, name);
}

// The per-image buffers follow the image size, and each is made when a request first needs it: a
// render at an unchanged size allocates nothing, a request for the 8-bit image alone never pays
// for the float one, and the additive look never pays for the depth buffer. A backend in host
// memory resolves straight into the caller's images and needs no copies of them.
bool fitImageBuffers(EKContext *c, int32_t width, int32_t height, bool image8, bool imageFloat,
                     bool volumetric) {
  if (width != c->imageWidth || height != c->imageHeight) {
    // The old buffers go before the new ones are made, so both never have to fit at once.
    c->accumulator.reset();
    c->image.reset();
    c->imageFloat.reset();
    c->totalDepth.reset();
    c->imageWidth = width;
    c->imageHeight = height;
  }
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  const bool copies = !c->backend->usesHostMemory();
  return fitBuffer(c, c->accumulator, pixels, "accumulator") &&
         (!(copies && image8) || fitBuffer(c, c->image, pixels, "image")) &&
         (!(copies && imageFloat) || fitBuffer(c, c->imageFloat, pixels, "image (float)")) &&
         (!volumetric || fitBuffer(c, c->totalDepth, pixels, "total depth"));
}

} // namespace

int32_t ek::renderFrame(EKContext *context, const char *name, const EKCamera *camera,
                        const EKRenderSettings *settings, const EKLight *lights, int32_t lightCount,
                        const LayerJob *layers, uint8_t *image8, float *imageFloat, float *gpuMs) {
  if (!camera || !settings || settings->width < 1 || settings->height < 1 ||
      !ek::isFiniteRequest(*camera, *settings, lights, lightCount)) {
    ek::setError(context, std::string(name) + ": invalid parameters");
    return 1;
  }
  const int32_t width = settings->width, height = settings->height;
  // The kernels count pixels in 32 bits.
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  if (pixels > uint64_t(std::numeric_limits<int32_t>::max())) {
    ek::setError(context, std::string(name) + ": image too large (more than 2147483647 pixels)");
    return 1;
  }
  ek::Device &backend = *context->backend;
  const bool volumetric = settings->mode == EK_MODE_VOLUMETRIC;
  if (!fitImageBuffers(context, width, height, image8, imageFloat, volumetric) ||
      (layers && !ek::fitLayerBuffers(context, *layers, pixels)))
    return 1;
  const int32_t pixelCount = int32_t(pixels);
  const ek::Frame frame = ek::buildFrame(*camera, *settings);
  const EKV3 *velocities =
      context->velocitiesValid && frame.shutter > 0.0f ? context->velocities.get() : nullptr;
  uint64_t work = 0;
  if (!ek::splatWork(context, frame, context->count, work))
    return 1;

  // In host memory the resolve writes straight into the caller's images, which saves a copy of
  // the image and the first touch of one more buffer; it runs only once every pass before it has
  // run without error, so a failed render still leaves the caller's images as they were. A GPU
  // resolves into its own buffers, downloaded once the render has succeeded.
  const bool direct = backend.usesHostMemory();
  auto passesSucceeded = [&](ek::DeviceStatus synchronized) {
    return ek::checkDevice(context, backend.takeLaunchError(), "launch render kernel") &&
           ek::checkDevice(context, synchronized, "run render kernel");
  };
  Rgba8 *const target8 = !image8  ? nullptr
                         : direct ? reinterpret_cast<Rgba8 *>(image8)
                                  : context->image.get();
  Rgba32f *const targetFloat = !imageFloat ? nullptr
                               : direct    ? reinterpret_cast<Rgba32f *>(imageFloat)
                                           : context->imageFloat.get();

  // A layered render keeps the volume constants for its layer resolve; the volumetric look's
  // shading and the additive look's splat gather its layer sums.
  VolumeConstants vol{};
  const ek::ShadeLayers shadeLayers =
      layers ? ek::shadeLayersOf(context, *layers) : ek::ShadeLayers{};
  backend.recordEvent(context->startEvent);
  if (volumetric) {
    if (!ek::renderVolume(context, *camera, *settings, frame, lights, lightCount, velocities,
                          nullptr, layers ? &vol : nullptr, &shadeLayers))
      return 1;
  } else {
    backend.fillAsync(context->accumulator.get(), 0, pixels * sizeof(Rgba32f));
    const ek::SplatArgs splat{frame, context->positions.get(),  context->colors.get(), velocities,
                              work,  context->accumulator.get()};
    if (layers) {
      if (!ek::splatAdditiveLayers(context, *layers, *camera, *settings, splat, vol))
        return 1;
    } else if (work > 0) {
      backend.launch(ek::blocksFor(backend, work, ek::kBlockSize), splat);
    }
  }
  if (direct && !passesSucceeded(backend.synchronize()))
    return 1;
  // The resolve kernels take one thread per pixel, so their grid covers the image uncapped.
  const uint32_t resolveBlocks = uint32_t(ek::blocksCovering(pixels, ek::kBlockSize));
  if (volumetric)
    backend.launch(resolveBlocks,
                   ek::ResolveVolArgs{context->accumulator.get(), context->totalDepth.get(),
                                      target8, targetFloat, pixelCount, settings->exposure});
  else
    backend.launch(resolveBlocks, ek::ResolveArgs{context->accumulator.get(), target8, targetFloat,
                                                  pixelCount, settings->exposure});
  if (layers)
    ek::resolveLayers(context, *layers, vol, volumetric, direct, targetFloat, resolveBlocks,
                      pixelCount, settings->exposure);
  backend.recordEvent(context->stopEvent);
  if (!passesSucceeded(backend.synchronizeEvent(context->stopEvent)))
    return 1;
  if (gpuMs) {
    float ms = 0.0f;
    if (backend.elapsedMs(&ms, context->startEvent, context->stopEvent) != ek::kDeviceOk)
      ms = 0.0f;
    *gpuMs = ms;
  }
  if (!direct && image8 &&
      !ek::checkDevice(context,
                       backend.copyToHost(image8, context->image.get(), pixels * sizeof(Rgba8)),
                       "download image"))
    return 1;
  if (!direct && imageFloat &&
      !ek::checkDevice(
          context,
          backend.copyToHost(imageFloat, context->imageFloat.get(), pixels * sizeof(Rgba32f)),
          "download image (float)"))
    return 1;
  if (!direct && layers && !ek::downloadLayers(context, *layers, pixels))
    return 1;
  return 0;
}

extern "C" EK_API int32_t ekRender(EKContext *context, const EKCamera *camera,
                                   const EKRenderSettings *settings, const EKLight *lights,
                                   int32_t lightCount, uint8_t *image8, float *imageFloat,
                                   float *gpuMs) {
  return ek::enter(context, "ekRender", [&]() -> int32_t {
    return ek::renderFrame(context, "ekRender", camera, settings, lights, lightCount, nullptr,
                           image8, imageFloat, gpuMs);
  });
}
