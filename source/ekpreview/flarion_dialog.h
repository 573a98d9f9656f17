// FlarionDialog: the plug-in's one dialog object with its settings, status line and renderer.
#pragma once

#include <cstdint>
#include <string>

#include "ekpreview/dialog_settings.h"
#include "ekpreview/language.h"
#include "ekpreview/preview_area.h"
#include "ekpreview/renderer_session.h"
#include "host/dialog.h"

namespace ek::plugin {

// State of a sequence export. Only the flags the dialog's command and timer handling look at
// exist so far; the export job itself fills in the rest.
struct ExportJob {
  bool running = false;
  bool cancelRequested = false;
};

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

  // host::DialogHandler
  bool createLayout() override;
  bool initValues() override;
  bool command(int32_t controlId) override;
  void timer() override;
  void closed() override;

private:
  void previewUpdate();
  void copyFromCamera();
  void exportImage();
  void startSequenceExport();
  bool prepareExport();
  void exportTick();
  void cancelExport();
  void updateControls();

  Language language_;
  PreviewArea previewArea_; // declared before dialog_ so it outlives the host's dialog object
  host::Dialog dialog_;
  RendererSession renderer_;
  ExportJob job_;
  bool saveInProgress_ = false;
  std::string lastMessage_;
};

} // namespace ek::plugin
