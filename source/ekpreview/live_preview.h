// The live preview: renders the active document through its view camera into the preview area
// whenever something the image is made from has changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ekpreview/frame_renderer.h"
#include "ekpreview/job_site.h"
#include "ekpreview/preview_area.h"
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

class LivePreview {
public:
  LivePreview(JobSite &site, FrameRenderer &frames, const PreviewArea &area)
      : site_(site), frames_(frames), area_(area) {}

  // Renders again when the inputs changed, and shows the image's statistics on the status line.
  // Leaves everything alone while the host is busy or the area is too small.
  void update();
  // The next update reads the active document again and renders.
  void forget();

private:
  JobSite &site_;
  FrameRenderer &frames_;
  const PreviewArea &area_;
  PreviewInputs inputs_;
};

} // namespace ek::plugin
