// One render of the scene's particles through a camera, split into stereo tiles when the camera
// asks for two eyes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ekpreview/camera_view.h"
#include "ekpreview/dialog_settings.h"
#include "ekpreview/language.h"
#include "ekpreview/particle_upload.h"
#include "ekpreview/scene_lights.h"

namespace ek::plugin {

// Per-sample work switched on by the dialog: several samples and a shutter only when depth of
// field or motion blur needs them.
int32_t effectiveSamples(const DialogSettings &settings);
float effectiveShutter(const DialogSettings &settings);

// The renderer's settings for an image of width x height. The brightness is normalised by the
// image area over the number of particle copies, so that the look stays the same whatever the
// image size and particle count.
EKRenderSettings renderSettings(const DialogSettings &settings, int32_t width, int32_t height,
                                int64_t particleCount, uint32_t seed);

// Render targets of one eye while an image is split into two tiles; reused between renders.
struct TileBuffers {
  std::vector<uint8_t> image8;
  std::vector<float> imageFloat;
};

struct RenderRequest {
  const host::Object &camera;
  const SphericalCamera &spherical;
  int32_t width, height;
  const DialogSettings &settings;
  uint32_t seed;
  const LightTable &lights;
  int64_t particleCount;
};

// Renders into the caller's images (either may be null; RGBA, width x height, top row first)
// and adds the renderer's GPU time of every tile to gpuMs. Returns the failure message in the
// language (without the error mark), or nothing on success.
std::optional<std::string> renderImage(RendererTarget renderer, const RenderRequest &request,
                                       TileBuffers &tiles, uint8_t *image8, float *imageFloat,
                                       float &gpuMs, Language language);

} // namespace ek::plugin
