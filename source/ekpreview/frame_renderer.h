// The renderer as the dialog's jobs use it: the context, the uploaded particles, the image
// buffers, and the preview area that shows every image made.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ekpreview/export_timings.h"
#include "ekpreview/job_site.h"
#include "ekpreview/particle_upload.h"
#include "ekpreview/preview_area.h"
#include "ekpreview/render_image.h"
#include "ekpreview/renderer_session.h"
#include "host/document.h"
#include "host/object.h"

namespace ek::plugin {

class FrameRenderer {
public:
  // Messages go to the site's status line; images to the area.
  FrameRenderer(JobSite &site, PreviewArea &area) : site_(site), area_(area) {}
  FrameRenderer(const FrameRenderer &) = delete;
  FrameRenderer &operator=(const FrameRenderer &) = delete;

  // True when a renderer context is ready; binds the renderer library on first use. A context
  // made on the CPU is announced, a failure shown as an error.
  bool ready();
  bool onCpu() const { return renderer_.onCpu(); }
  const ParticleUpload &particles() const { return particles_; }

  // Reads the document's particles into the renderer; false with the reason shown.
  bool readParticles(const host::Document &document, bool withVelocities);
  // Renders the request into the preview image, shows it in the area and adds the renderer's
  // GPU time to gpuMs; renderMs is how long the render took. False with the reason shown,
  // before anything is allocated when an image of this size would not fit in memory.
  bool renderPreview(const RenderRequest &request, float &gpuMs, double &renderMs);
  // As JobSite::renderAndSave; the time of each step is added to timings.
  bool renderAndSave(const host::Document &document, const std::optional<host::Object> &camera,
                     int32_t width, int32_t height, const DialogSettings &settings, int32_t frame,
                     const std::string &path, ImageFormat format, ExportTimings &timings);
  // The window closed: the context goes, the library stays.
  void close();

private:
  RendererTarget target() const { return {renderer_.binding(), renderer_.context()}; }
  // Sizes an image buffer; shows the out-of-memory error when it cannot grow.
  template <typename T> bool resizeImage(std::vector<T> &image, int32_t width, int32_t height);
  // False, with the reason shown, when a preview of this size cannot fit in memory.
  bool previewFits(int32_t width, int32_t height);

  JobSite &site_;
  PreviewArea &area_;
  RendererSession renderer_;
  ParticleUpload particles_;
  std::vector<uint8_t> previewImage_;
  std::vector<float> floatImage_;
  TileBuffers tiles_;
};

} // namespace ek::plugin
