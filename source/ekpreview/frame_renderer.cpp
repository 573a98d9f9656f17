#include "ekpreview/frame_renderer.h"

#include "ekpreview/buffer_size.h"
#include "ekpreview/camera_view.h"
#include "ekpreview/preview_memory.h"
#include "ekpreview/scene_lights.h"
#include "ekpreview/texts.h"
#include "host/particle_system.h"
#include "host/state.h"

namespace ek::plugin {

namespace {

constexpr size_t kChannels = 4;

} // namespace

bool FrameRenderer::ready() {
  const RendererSession::Outcome outcome = renderer_.ensureContext(site_.language());
  if (outcome == RendererSession::Outcome::CreatedOnCpu) {
    site_.showStatus(pick(text::kRenderingOnCpu, site_.language()));
  }
  if (outcome == RendererSession::Outcome::Failed) {
    site_.showError(renderer_.error());
    return false;
  }
  return true;
}

template <typename T>
bool FrameRenderer::resizeImage(std::vector<T> &image, int32_t width, int32_t height) {
  if (tryResize(image, size_t(width) * size_t(height) * kChannels)) {
    return true;
  }
  site_.showError(pick(text::kOutOfMemory, site_.language()));
  return false;
}

bool FrameRenderer::previewFits(int32_t width, int32_t height) {
  // An image of this size was held before, so its memory is known to be there.
  if (previewImage_.capacity() >= size_t(width) * size_t(height) * kChannels) {
    return true;
  }
  const auto shortfall = previewShortfall(width, height, previewBytesPerPixel(renderer_.onCpu()));
  if (shortfall) {
    site_.showError(previewTooLargeMessage(width, height, *shortfall, site_.language()));
    return false;
  }
  return true;
}

bool FrameRenderer::readParticles(const host::Document &document, bool withVelocities) {
  const int32_t fps = document.fps();
  const double velocityScale = fps > 0 ? 1.0 / double(fps) : 0.0;
  const auto failure =
      plugin::readParticles(particles_, target(), host::ParticleSystem::of(document),
                            withVelocities, velocityScale, site_.language());
  if (failure) {
    site_.showError(*failure);
    return false;
  }
  return true;
}

bool FrameRenderer::renderPreview(const RenderRequest &request, float &gpuMs, double &renderMs) {
  if (!previewFits(request.width, request.height) ||
      !resizeImage(previewImage_, request.width, request.height)) {
    return false;
  }
  const double start = host::milliseconds();
  if (auto failure = renderImage(target(), request, tiles_, previewImage_.data(), nullptr, gpuMs,
                                 site_.language())) {
    site_.showError(*failure);
    return false;
  }
  renderMs = host::milliseconds() - start;
  area_.show(previewImage_.data(), request.width, request.height);
  return true;
}

bool FrameRenderer::renderAndSave(const host::Document &document,
                                  const std::optional<host::Object> &camera, int32_t width,
                                  int32_t height, const DialogSettings &settings, int32_t frame,
                                  const std::string &path, ImageFormat format,
                                  ExportTimings &timings) {
  if (!ready()) {
    return false;
  }
  if (!camera) {
    site_.showStatus(pick(text::kNoCamera, site_.language()));
    return false;
  }
  if (!readParticles(document, settings.motionBlur)) {
    return false;
  }
  timings.readMs += particles_.readMs + particles_.uploadMs;
  const double renderStart = host::milliseconds();
  const SphericalCamera spherical = readSphericalCamera(*camera);
  const LightTable lights = sceneLights(document, settings);
  if (!resizeImage(floatImage_, width, height) || !resizeImage(previewImage_, width, height)) {
    return false;
  }
  float gpuMs = 0.0f;
  const RenderRequest request{*camera,  spherical,       width,  height,
                              settings, uint32_t(frame), lights, particles_.particleCount};
  if (auto failure = renderImage(target(), request, tiles_, previewImage_.data(),
                                 floatImage_.data(), gpuMs, site_.language())) {
    site_.showError(*failure);
    return false;
  }
  const double showStart = host::milliseconds();
  timings.renderMs += showStart - renderStart;
  area_.show(previewImage_.data(), width, height);
  const double writeStart = host::milliseconds();
  timings.showMs += writeStart - showStart;

  const RendererBinding &binding = renderer_.binding();
  const int32_t written = format == ImageFormat::Exr
                              ? binding.saveExr(path.c_str(), width, height, floatImage_.data())
                              : binding.savePng(path.c_str(), width, height, floatImage_.data(),
                                                format == ImageFormat::Png16 ? 1 : 0);
  timings.writeMs += host::milliseconds() - writeStart;
  if (written != 0) {
    site_.showError(pick(text::kFileNotWritten, site_.language()) + path);
    return false;
  }
  return true;
}

void FrameRenderer::close() {
  renderer_.destroyContext();
  particles_.forgetReservation();
}

} // namespace ek::plugin
