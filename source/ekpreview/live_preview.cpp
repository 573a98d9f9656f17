// The live preview of FlarionDialog: the guarded update, the render-and-save step of the export
// and the end of the context's life when the window closes.
#include <cmath>

#include "ekpreview/buffer_size.h"
#include "ekpreview/camera_view.h"
#include "ekpreview/change_key.h"
#include "ekpreview/flarion_dialog.h"
#include "ekpreview/preview_memory.h"
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
constexpr size_t kChannels = 4;

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

LightTable sceneLights(const host::Document &document, const DialogSettings &settings) {
  LightTable lights;
  if (settings.mode == kModeVolumetric) {
    collectLights(document.firstObject(), lights);
  }
  return lights;
}

} // namespace

template <typename T>
bool FlarionDialog::resizeImage(std::vector<T> &image, int32_t width, int32_t height) {
  if (tryResize(image, size_t(width) * size_t(height) * kChannels)) {
    return true;
  }
  showError(pick(text::kOutOfMemory, language_));
  return false;
}

bool FlarionDialog::previewFits(int32_t width, int32_t height) {
  // An image of this size was held before, so its memory is known to be there.
  if (previewImage_.capacity() >= size_t(width) * size_t(height) * kChannels) {
    return true;
  }
  const auto shortfall = previewShortfall(width, height, previewBytesPerPixel(renderer_.onCpu()));
  if (shortfall) {
    showError(previewTooLargeMessage(width, height, *shortfall, language_));
    return false;
  }
  return true;
}

bool FlarionDialog::readSceneParticles(const host::Document &document, bool withVelocities) {
  const int32_t fps = document.fps();
  const double velocityScale = fps > 0 ? 1.0 / double(fps) : 0.0;
  const auto failure =
      readParticles(particles_, rendererTarget(), host::ParticleSystem::of(document),
                    withVelocities, velocityScale, language_);
  if (failure) {
    showError(*failure);
    return false;
  }
  return true;
}

void FlarionDialog::previewUpdate() {
  if (saveInProgress_ || job_.running) {
    return;
  }
  if (!ensureContext()) {
    showError(renderer_.error());
    return;
  }
  const auto document = host::Document::active();
  if (!document) {
    return;
  }
  const auto camera = document->activeViewCamera();
  if (!camera) {
    showStatus(pick(text::kNoCamera, language_));
    return;
  }
  int32_t width = previewArea_.area().width();
  int32_t height = previewArea_.area().height();
  if (width < kMinimumRenderSize || height < kMinimumRenderSize) {
    return;
  }
  const DialogSettings settings = readSettings();
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
  if (document->handle() != preview_.lastDocument || time != preview_.lastTime ||
      total != preview_.lastParticleTotal || dirty != preview_.lastDirty ||
      settings.motionBlur != preview_.lastMotionBlur) {
    if (!readSceneParticles(*document, settings.motionBlur)) {
      return;
    }
    preview_.lastDocument = document->handle();
    preview_.lastTime = time;
    preview_.lastParticleTotal = total;
    preview_.lastDirty = dirty;
    preview_.lastMotionBlur = settings.motionBlur;
  }

  const LightTable lights = sceneLights(*document, settings);
  std::string key =
      previewKey(particles_.uploadGeneration,
                 buildCamera(*camera, width, height, settings, spherical, kSingleView),
                 renderSettings(settings, width, height, particles_.particleCount, kPreviewSeed),
                 lights, spherical);
  if (key == preview_.lastKey) {
    return;
  }
  if (!previewFits(width, height) || !resizeImage(previewImage_, width, height)) {
    return;
  }

  const double t0 = host::milliseconds();
  float gpuMs = 0.0f;
  const RenderRequest request{*camera,  spherical,    width,  height,
                              settings, kPreviewSeed, lights, particles_.particleCount};
  if (auto failure = renderImage(rendererTarget(), request, tiles_, previewImage_.data(), nullptr,
                                 gpuMs, language_)) {
    showError(*failure);
    return;
  }
  const double t1 = host::milliseconds();

  preview_.lastKey = std::move(key);
  previewArea_.show(previewImage_.data(), width, height);
  RenderStatistics stats;
  stats.particleCount = particles_.particleCount;
  stats.repopulation = settings.repopulation;
  stats.samples = effectiveSamples(settings);
  stats.readMs = particles_.readMs;
  stats.uploadMs = particles_.uploadMs;
  stats.renderMs = t1 - t0;
  stats.gpuMs = gpuMs;
  stats.motionBlur = settings.motionBlur;
  stats.meanSpeedRaw = particles_.meanSpeedRaw;
  stats.volumetric = settings.mode == kModeVolumetric;
  stats.onCpu = renderer_.onCpu();
  showStatus(statisticsLine(stats, spherical, lights, language_));
}

bool FlarionDialog::renderAndSave(const host::Document &document,
                                  const std::optional<host::Object> &camera, int32_t width,
                                  int32_t height, const DialogSettings &settings, int32_t frame,
                                  const std::string &path, ImageFormat format) {
  if (!ensureContext()) {
    showError(renderer_.error());
    return false;
  }
  if (!camera) {
    showStatus(pick(text::kNoCamera, language_));
    return false;
  }
  if (!readSceneParticles(document, settings.motionBlur)) {
    return false;
  }
  exportTimings_.readMs += particles_.readMs + particles_.uploadMs;
  const double renderStart = host::milliseconds();
  const SphericalCamera spherical = readSphericalCamera(*camera);
  const LightTable lights = sceneLights(document, settings);
  if (!resizeImage(floatImage_, width, height) || !resizeImage(previewImage_, width, height)) {
    return false;
  }
  float gpuMs = 0.0f;
  const RenderRequest request{*camera,  spherical,       width,  height,
                              settings, uint32_t(frame), lights, particles_.particleCount};
  if (auto failure = renderImage(rendererTarget(), request, tiles_, previewImage_.data(),
                                 floatImage_.data(), gpuMs, language_)) {
    showError(*failure);
    return false;
  }
  const double showStart = host::milliseconds();
  exportTimings_.renderMs += showStart - renderStart;
  previewArea_.show(previewImage_.data(), width, height);
  const double writeStart = host::milliseconds();
  exportTimings_.showMs += writeStart - showStart;

  const RendererBinding &binding = renderer_.binding();
  const int32_t written = format == ImageFormat::Exr
                              ? binding.saveExr(path.c_str(), width, height, floatImage_.data())
                              : binding.savePng(path.c_str(), width, height, floatImage_.data(),
                                                format == ImageFormat::Png16 ? 1 : 0);
  exportTimings_.writeMs += host::milliseconds() - writeStart;
  if (written != 0) {
    showError(pick(text::kFileNotWritten, language_) + path);
    return false;
  }
  return true;
}

void FlarionDialog::closeWindow() {
  if (job_.running) {
    finishExport(text::kEndWindowClosed, false, false);
  }
  renderer_.destroyContext();
  particles_.forgetReservation();
  forgetPreview();
}

} // namespace ek::plugin
