// Layered renders: a checked layer request, and the steps of the frame pipeline that serve it.
#pragma once

#include <cstdint>

#include "context.h"
#include "kernels/layer_plan.h"

namespace ek {

// A checked layer request: the sums that the volumetric shading or the additive splat gathers,
// the caller's layer images and how many floats each takes per pixel.
struct LayerJob {
  LayerPlan plan{};        // volumetric look
  AdditiveSums additive{}; // additive look
  LayerTargets caller{};
  int32_t channels = 0; // float channels of all layers asked for, per pixel
};

// Float channels per pixel of a layer kind; 0 for a kind that does not exist.
int32_t layerChannels(int32_t kind);

// Checks `count` layers against the look of `settings`, the lights used and whether the particles
// have velocities, and fills `job`. On failure stores "NAME: REASON" and returns false.
bool planLayers(EKContext *context, const char *name, const EKRenderSettings &settings,
                const EKLight *lights, int32_t lightCount, const EKLayer *layers, int32_t count,
                LayerJob &job);

// Gives the layer sums (and, on a GPU, the layer images) their size for `pixels` pixels.
bool fitLayerBuffers(EKContext *context, const LayerJob &job, uint64_t pixels);

// The layer sums that the volumetric look's shading gathers for `job` (sums null for none).
ShadeLayers shadeLayersOf(EKContext *context, const LayerJob &job);

// Queues the additive look's splat `beauty` (into a cleared accumulator) for a layered render,
// gathering the job's layer sums beside the beauty's. For the depth it measures the cloud and
// leaves the depth range of the moments in `vol` (camDepthStart, camSlices / camDepthScale).
bool splatAdditiveLayers(EKContext *context, const LayerJob &job, const EKCamera &camera,
                         const EKRenderSettings &settings, const SplatArgs &beauty,
                         VolumeConstants &vol);

// Queues the layer resolve, into the caller's images when `direct` (host memory), else into the
// context's layer images; `image`, when not null, is the beauty's float image, resolved before.
void resolveLayers(EKContext *context, const LayerJob &job, const VolumeConstants &vol,
                   bool volumetric, bool direct, const Rgba32f *image, uint32_t blocks,
                   int32_t pixelCount, float exposure);

// Copies the context's layer images to the caller's (a GPU's renders).
bool downloadLayers(EKContext *context, const LayerJob &job, uint64_t pixels);

// ekRender's work, with the layers of `layers` when it is not null; `name` heads the failure
// texts. Runs inside the caller's enter.
int32_t renderFrame(EKContext *context, const char *name, const EKCamera *camera,
                    const EKRenderSettings *settings, const EKLight *lights, int32_t lightCount,
                    const LayerJob *layers, uint8_t *image8, float *imageFloat, float *gpuMs);

} // namespace ek
