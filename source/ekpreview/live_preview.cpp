#include "ekpreview/live_preview.h"

#include <algorithm>
#include <cmath>

#include "ekpreview/camera_view.h"
#include "ekpreview/change_key.h"
#include "ekpreview/render_settings_size.h"
#include "ekpreview/scene_lights.h"
#include "ekpreview/statistics_line.h"
#include "ekpreview/texts.h"
#include "host/host_ids.h"
#include "host/particle_system.h"
#include "host/state.h"

namespace ek::plugin {

namespace {

// Below this many pixels in either direction the preview is not rendered.
constexpr int32_t kMinimumRenderSize = 16;
constexpr uint32_t kPreviewSeed = 0;

// A spherical preview keeps the render settings' aspect ratio inside the area.
void fitRenderAspect(const host::Document &document, int32_t &width, int32_t &height) {
  const auto renderWidth = renderSettingsSize(document, host::render_data::kWidth);
  const auto renderHeight = renderSettingsSize(document, host::render_data::kHeight);
  if (!renderWidth || !renderHeight || !(*renderWidth > 0.0) || !(*renderHeight > 0.0)) {
    return;
  }
  const double s = std::min(double(width) / *renderWidth, double(height) / *renderHeight);
  width = std::max(int32_t(std::floor(*renderWidth * s)), kMinimumRenderSize);
  height = std::max(int32_t(std::floor(*renderHeight * s)), kMinimumRenderSize);
}

bool hostBusy() {
  return !host::isMainThread() || host::isBusy(host::state::kBusyViewDrawing) ||
         host::isBusy(host::state::kBusyEditorRendering);
}

} // namespace

void LivePreview::update() {
  if (!frames_.ready()) {
    return;
  }
  const auto document = host::Document::active();
  if (!document) {
    return;
  }
  const auto camera = document->activeViewCamera();
  if (!camera) {
    site_.showStatus(pick(text::kNoCamera, site_.language()));
    return;
  }
  int32_t width = area_.area().width();
  int32_t height = area_.area().height();
  if (width < kMinimumRenderSize || height < kMinimumRenderSize) {
    return;
  }
  const DialogSettings settings = site_.readSettings();
  const SphericalCamera spherical = readSphericalCamera(*camera);
  if (spherical.spherical) {
    fitRenderAspect(*document, width, height);
  }
  if (hostBusy()) {
    return;
  }

  const auto system = host::ParticleSystem::of(*document);
  const double time = document->time().seconds();
  const int32_t total = system ? system->count() : 0;
  const uint32_t dirty = document->changeCount(host::document::kDirtyFlagsScene);
  if (document->handle() != inputs_.lastDocument || time != inputs_.lastTime ||
      total != inputs_.lastParticleTotal || dirty != inputs_.lastDirty ||
      settings.motionBlur != inputs_.lastMotionBlur) {
    if (!frames_.readParticles(*document, settings.motionBlur)) {
      return;
    }
    inputs_.lastDocument = document->handle();
    inputs_.lastTime = time;
    inputs_.lastParticleTotal = total;
    inputs_.lastDirty = dirty;
    inputs_.lastMotionBlur = settings.motionBlur;
  }

  const LightTable lights = sceneLights(*document, settings);
  const ParticleUpload &particles = frames_.particles();
  std::string key =
      previewKey(particles.uploadGeneration,
                 buildCamera(*camera, width, height, settings, spherical, kSingleView),
                 renderSettings(settings, width, height, particles.particleCount, kPreviewSeed),
                 lights, spherical);
  if (key == inputs_.lastKey) {
    return;
  }
  float gpuMs = 0.0f;
  double renderMs = 0.0;
  const RenderRequest request{*camera,  spherical,    width,  height,
                              settings, kPreviewSeed, lights, particles.particleCount};
  if (!frames_.renderPreview(request, gpuMs, renderMs)) {
    return;
  }
  inputs_.lastKey = std::move(key);
  RenderStatistics stats;
  stats.particleCount = particles.particleCount;
  stats.repopulation = settings.repopulation;
  stats.samples = effectiveSamples(settings);
  stats.readMs = particles.readMs;
  stats.uploadMs = particles.uploadMs;
  stats.renderMs = renderMs;
  stats.gpuMs = gpuMs;
  stats.motionBlur = settings.motionBlur;
  stats.meanSpeedRaw = particles.meanSpeedRaw;
  stats.volumetric = settings.mode == kModeVolumetric;
  stats.onCpu = frames_.onCpu();
  site_.showStatus(statisticsLine(stats, spherical, lights, site_.language()));
}

void LivePreview::forget() {
  inputs_.lastDocument = nullptr;
  inputs_.lastKey.reset();
}

} // namespace ek::plugin
