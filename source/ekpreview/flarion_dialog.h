// FlarionDialog: the plug-in's one dialog window with its settings and status line, the site of
// its live preview and its exports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ekpreview/dialog_settings.h"
#include "ekpreview/export_job.h"
#include "ekpreview/frame_renderer.h"
#include "ekpreview/job_site.h"
#include "ekpreview/language.h"
#include "ekpreview/live_preview.h"
#include "ekpreview/particle_upload.h"
#include "ekpreview/preview_area.h"
#include "host/dialog.h"
#include "host/document.h"

namespace ek::plugin {

// Created once when the command is registered and kept until the plug-in ends; the window it
// describes may open and close many times meanwhile.
class FlarionDialog final : public host::DialogHandler, public JobSite {
public:
  explicit FlarionDialog(Language language);

  bool open();
  bool restore(void *layoutData);

  // JobSite. The status line also gives an export that saves its last message.
  Language language() const override { return language_; }
  void showStatus(const std::string &text) override;
  DialogSettings readSettings() const override;
  bool rendererReady() override { return frames_.ready(); }
  bool renderAndSave(const host::Document &document, const std::optional<host::Object> &camera,
                     int32_t width, int32_t height, const DialogSettings &settings, int32_t frame,
                     const std::string &path, ImageFormat format) override;
  void forgetPreview() override { preview_.forget(); }

  const ParticleUpload &particles() const { return frames_.particles(); }
  const ExportTimings &exportTimings() const { return export_.timings(); }

  // host::DialogHandler
  bool createLayout() override;
  bool initValues() override;
  bool command(int32_t controlId) override;
  void timer() override;
  void closed() override;

private:
  // Updates the preview unless an export is using the renderer.
  void previewUpdate();
  void copyFromCamera();

  Language language_;
  PreviewArea previewArea_; // declared before dialog_ so it outlives the host's dialog object
  host::Dialog dialog_;
  FrameRenderer frames_;
  LivePreview preview_;
  ExportJob export_;
};

} // namespace ek::plugin
