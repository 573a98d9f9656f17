// FlarionDialog: the plug-in's one dialog object with its settings, status line and renderer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ekpreview/dialog_settings.h"
#include "ekpreview/export_job.h"
#include "ekpreview/language.h"
#include "ekpreview/particle_upload.h"
#include "ekpreview/preview_area.h"
#include "ekpreview/render_image.h"
#include "ekpreview/renderer_session.h"
#include "host/dialog.h"
#include "host/document.h"

namespace ek::plugin {

// What the image on screen was made from. The first five values guard the particle read; the key
// covers every render input.
struct PreviewInputs {
  HostDocument *lastDocument = nullptr;
  double lastTime = -1.0;
  int32_t lastParticleTotal = -1;
  uint32_t lastDirty = 0;
  bool lastMotionBlur = false;
  std::optional<std::string> lastKey;
};

// Output formats of renderAndSave.
enum class ImageFormat : int32_t { Exr = kFormatExr, Png16 = kFormatPng16, Png8 = kFormatPng8 };

// Created once when the command is registered and kept until the plug-in ends; the window it
// describes may open and close many times meanwhile.
class FlarionDialog final : public host::DialogHandler {
public:
  explicit FlarionDialog(Language language);

  bool open();
  bool restore(void *layoutData);

  // Writes the text into the status line; while an export saves, also keeps it as the export's
  // last message.
  void showStatus(const std::string &text);
  // Shows the message with the error mark of the current language.
  void showError(const std::string &message);
  DialogSettings readSettings() const;
  // True when a renderer context is ready; binds the renderer library on first use.
  bool ensureContext();

  // Reads the document's particles, renders one image of width x height through the camera with
  // the frame as the render's seed, shows it in the preview area and writes it to the UTF-8 path.
  // On failure the reason is on the status line.
  bool renderAndSave(const host::Document &document, const std::optional<host::Object> &camera,
                     int32_t width, int32_t height, const DialogSettings &settings, int32_t frame,
                     const std::string &path, ImageFormat format);
  const ParticleUpload &particles() const { return particles_; }
  const ExportTimings &exportTimings() const { return exportTimings_; }

  // host::DialogHandler
  bool createLayout() override;
  bool initValues() override;
  bool command(int32_t controlId) override;
  void timer() override;
  void closed() override;

private:
  void previewUpdate();
  // The window closed: the context goes, the library stays, and the next update starts afresh.
  void closeWindow();
  bool readSceneParticles(const host::Document &document, bool withVelocities);
  RendererTarget rendererTarget() const { return {renderer_.binding(), renderer_.context()}; }
  // Sizes an image buffer; shows the out-of-memory error when it cannot grow.
  template <typename T> bool resizeImage(std::vector<T> &image, int32_t width, int32_t height);
  // False, with the reason on the status line, when a preview of this size cannot fit in memory.
  bool previewFits(int32_t width, int32_t height);
  void copyFromCamera();

  // The export commands and the job's timer step.
  struct ExportTarget;
  std::optional<ExportTarget> prepareExport();
  void exportImage();
  void startSequenceExport();
  void startJob(const ExportTarget &target);
  void exportTick();
  void exportStep();
  void showExportProgress();
  void finishExport(const Text &ending, bool keepBar, bool showMessageBox);
  void setExportProgress(double fraction, const std::string &text, bool barShown);
  void showExportError(const std::string &message);
  void cancelExport();
  void updateControls();
  // The next preview update reads the active document again and renders, because an export
  // replaced the renderer's particles and the preview image.
  void forgetPreview();

  Language language_;
  PreviewArea previewArea_; // declared before dialog_ so it outlives the host's dialog object
  host::Dialog dialog_;
  RendererSession renderer_;
  ParticleUpload particles_;
  PreviewInputs preview_;
  std::vector<uint8_t> previewImage_;
  std::vector<float> floatImage_;
  TileBuffers tiles_;
  ExportJob job_;
  ExportTimings exportTimings_;
  bool saveInProgress_ = false;
  std::string lastMessage_;
};

} // namespace ek::plugin
