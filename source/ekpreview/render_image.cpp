#include "ekpreview/render_image.h"

#include <algorithm>
#include <cstring>

#include "ekpreview/buffer_size.h"
#include "ekpreview/texts.h"

namespace ek::plugin {

namespace {

constexpr double kBrightnessScale = 0.15;
constexpr int32_t kMaxSamples = 256;
constexpr size_t kChannels = 4;

struct ShadowQuality {
  int32_t mapSize, shadowSlices, cameraSlices;
};

ShadowQuality shadowQuality(int32_t shadows) {
  switch (shadows) {
  case kShadowsLow:
    return {256, 32, 16};
  case kShadowsHigh:
    return {1024, 96, 48};
  default:
    return {512, 64, 32};
  }
}

// Copies a tile's rows into its rectangle of the full image.
template <typename T>
void placeTile(const T *tile, const StereoTile &t, int32_t fullWidth, T *image) {
  const size_t rowElements = size_t(t.width) * kChannels;
  for (int32_t row = 0; row < t.height; ++row) {
    const size_t target = (size_t(t.y + row) * size_t(fullWidth) + size_t(t.x)) * kChannels;
    std::memcpy(image + target, tile + size_t(row) * rowElements, rowElements * sizeof(T));
  }
}

template <typename T> bool resizeFor(std::vector<T> &buffer, const StereoTile &t) {
  return tryResize(buffer, size_t(t.width) * size_t(t.height) * kChannels);
}

} // namespace

int32_t effectiveSamples(const DialogSettings &settings) {
  if (!settings.depthOfField && !settings.motionBlur) {
    return 1;
  }
  return std::clamp(settings.samples, 1, kMaxSamples);
}

float effectiveShutter(const DialogSettings &settings) {
  return settings.motionBlur ? float(settings.shutter) : 0.0f;
}

EKRenderSettings renderSettings(const DialogSettings &settings, int32_t width, int32_t height,
                                int64_t particleCount, uint32_t seed) {
  double copies = (double(settings.repopulation) + 1.0) * double(particleCount);
  if (!(copies > 0.0)) {
    copies = 1.0;
  }
  EKRenderSettings r{};
  r.width = width;
  r.height = height;
  r.brightness =
      float(kBrightnessScale * settings.brightness * double(width) * double(height) / copies);
  r.exposure = float(settings.exposure);
  r.repopulation = settings.repopulation;
  r.radius = float(settings.radius);
  r.samples = effectiveSamples(settings);
  r.shutter = effectiveShutter(settings);
  r.seed = seed;
  r.mode = settings.mode == kModeVolumetric ? EK_MODE_VOLUMETRIC : EK_MODE_ADDITIVE;
  r.density = float(settings.density);
  r.emission = float(settings.emission);
  r.ambient[0] = r.ambient[1] = r.ambient[2] = float(settings.ambient);
  r.scattering = float(settings.scattering);
  const ShadowQuality q = shadowQuality(settings.shadows);
  r.shadowMapSize = q.mapSize;
  r.shadowSlices = q.shadowSlices;
  r.cameraSlices = q.cameraSlices;
  return r;
}

std::optional<std::string> renderImage(RendererTarget renderer, const RenderRequest &request,
                                       TileBuffers &tiles, uint8_t *image8, float *imageFloat,
                                       float &gpuMs, Language language) {
  if (request.lights.refused) {
    return refusedLightMessage(*request.lights.refused, language);
  }
  const StereoTiles layout = stereoTiles(request.spherical, request.width, request.height);
  const bool split = layout.count > 1;
  float gpuSum = 0.0f;
  for (int32_t k = 0; k < layout.count; ++k) {
    const StereoTile &t = layout.tiles[k];
    if (t.width < 1 || t.height < 1) {
      continue;
    }
    const EKCamera camera =
        buildCamera(request.camera, t.width, t.height, request.settings, request.spherical, t.eye);
    const EKRenderSettings settings =
        renderSettings(request.settings, t.width, t.height, request.particleCount, request.seed);
    uint8_t *target8 = image8;
    float *targetFloat = imageFloat;
    if (split) {
      if ((image8 && !resizeFor(tiles.image8, t)) ||
          (imageFloat && !resizeFor(tiles.imageFloat, t))) {
        return pick(text::kOutOfMemory, language);
      }
      target8 = image8 ? tiles.image8.data() : nullptr;
      targetFloat = imageFloat ? tiles.imageFloat.data() : nullptr;
    }
    float tileGpuMs = 0.0f;
    if (renderer.binding.render(renderer.context, &camera, &settings, request.lights.lights,
                                request.lights.used, target8, targetFloat, &tileGpuMs) != 0) {
      const char *reason = renderer.binding.lastError(renderer.context);
      return std::string(reason ? reason : "");
    }
    if (split && image8) {
      placeTile(target8, t, request.width, image8);
    }
    if (split && imageFloat) {
      placeTile(targetFloat, t, request.width, imageFloat);
    }
    gpuSum += tileGpuMs;
  }
  gpuMs = gpuSum;
  return std::nullopt;
}

} // namespace ek::plugin
