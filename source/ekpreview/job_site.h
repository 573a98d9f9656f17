// What the dialog offers the jobs that run in it: the status line, the dialog's settings, and
// the renderer that renders, shows and saves their images.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ekpreview/dialog_settings.h"
#include "ekpreview/language.h"
#include "ekpreview/texts.h"
#include "host/document.h"
#include "host/object.h"

namespace ek::plugin {

// Output formats of renderAndSave.
enum class ImageFormat : int32_t { Exr = kFormatExr, Png16 = kFormatPng16, Png8 = kFormatPng8 };

class JobSite {
public:
  // The language of every text the jobs show.
  virtual Language language() const = 0;
  // Writes the text into the status line.
  virtual void showStatus(const std::string &text) = 0;
  // Shows the message with the error mark of the current language.
  void showError(const std::string &message) {
    showStatus(pick(text::kErrorPrefix, language()) + message);
  }
  virtual DialogSettings readSettings() const = 0;
  // True when a renderer context is ready; otherwise the reason is on the status line.
  virtual bool rendererReady() = 0;
  // Reads the document's particles, renders one image of width x height through the camera with
  // the frame as the render's seed, shows it in the preview area and writes it to the UTF-8 path.
  // On failure the reason is on the status line.
  virtual bool renderAndSave(const host::Document &document,
                             const std::optional<host::Object> &camera, int32_t width,
                             int32_t height, const DialogSettings &settings, int32_t frame,
                             const std::string &path, ImageFormat format) = 0;
  // The next preview update reads the active document again and renders, because something
  // else replaced the renderer's particles or the preview image.
  virtual void forgetPreview() = 0;

protected:
  ~JobSite() = default;
};

} // namespace ek::plugin
