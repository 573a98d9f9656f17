#include "ekpreview/flarion_dialog.h"

#include "ekpreview/dialog_layout.h"
#include "ekpreview/plugin_ids.h"
#include "ekpreview/settings_io.h"
#include "ekpreview/texts.h"
#include "host/document.h"
#include "host/host_ids.h"
#include "host/object.h"
#include "host/state.h"

namespace ek::plugin {

FlarionDialog::FlarionDialog(Language language)
    : language_(language), dialog_(*this), frames_(*this, previewArea_),
      preview_(*this, frames_, previewArea_), export_(*this, dialog_) {}

bool FlarionDialog::open() {
  return dialog_.open(kCommandId, kDialogDefaultWidth, kDialogDefaultHeight);
}

bool FlarionDialog::restore(void *layoutData) { return dialog_.restore(kCommandId, layoutData); }

void FlarionDialog::showStatus(const std::string &text) {
  dialog_.setText(control::kStatus, text);
  export_.noteStatus(text);
}

DialogSettings FlarionDialog::readSettings() const { return plugin::readSettings(dialog_); }

bool FlarionDialog::renderAndSave(const host::Document &document,
                                  const std::optional<host::Object> &camera, int32_t width,
                                  int32_t height, const DialogSettings &settings, int32_t frame,
                                  const std::string &path, ImageFormat format) {
  return frames_.renderAndSave(document, camera, width, height, settings, frame, path, format,
                               export_.timings());
}

bool FlarionDialog::createLayout() {
  language_ = chooseLanguage();
  buildLayout(dialog_, language_);
  previewArea_.attach(dialog_.attachUserArea(control::kPreviewArea, previewArea_));
  return true;
}

bool FlarionDialog::initValues() {
  setDefaults(dialog_);
  dialog_.setProgress(control::kProgressBar, false, 0.0);
  export_.updateControls();
  dialog_.setTimer(kTimerIntervalMs);
  return true;
}

bool FlarionDialog::command(int32_t controlId) {
  switch (controlId) {
  case control::kFromCamera:
    copyFromCamera();
    previewUpdate();
    break;
  case control::kExportImage:
    export_.exportImage();
    break;
  case control::kExportSequence:
    export_.startSequence();
    break;
  case control::kCancelExport:
    export_.cancel();
    break;
  case control::kFormat:
    break; // read by the export when it starts
  default:
    previewUpdate();
    break;
  }
  return true;
}

void FlarionDialog::timer() {
  if (export_.running()) {
    export_.tick();
    return;
  }
  if (dialog_.getBool(control::kLive).value_or(false)) {
    previewUpdate();
  }
}

// The window closed: the context goes, the library stays, and the next update starts afresh.
void FlarionDialog::closed() {
  export_.windowClosed();
  frames_.close();
  preview_.forget();
}

void FlarionDialog::previewUpdate() {
  if (!export_.busy()) {
    preview_.update();
  }
}

void FlarionDialog::copyFromCamera() {
  std::optional<host::Camera> camera;
  if (auto document = host::Document::active()) {
    if (auto object = document->activeViewCamera()) {
      camera = host::Camera::from(*object);
    }
  }
  if (!camera) {
    showStatus(pick(text::kNoCamera, language_));
    return;
  }
  const double focus = camera->dataReal(host::camera::kFocusDistance).value_or(0.0);
  const double fNumber = camera->dataReal(host::camera::kFNumber).value_or(0.0);
  if (focus > 0.0) {
    setRealValue(dialog_, controls::kFocus, focus);
  }
  if (fNumber > 0.0) {
    setRealValue(dialog_, controls::kAperture, fNumber);
  }
  dialog_.setBool(control::kDepthOfField, true);
}

} // namespace ek::plugin
