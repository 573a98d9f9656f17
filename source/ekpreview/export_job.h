// The state of a sequence export while it runs in the dialog's timer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ekpreview/dialog_settings.h"
#include "host/document.h"
#include "host/object.h"

namespace ek::plugin {

struct ExportJob {
  bool running = false;
  bool cancelRequested = false;
  std::optional<host::OwnedDocument> sceneCopy; // the private clone the job simulates
  std::optional<host::Object> cameraInCopy;     // owned by the copy or by cameraClone
  std::optional<host::OwnedObject> cameraClone; // only when the camera was not found in the tree
  std::string folder;
  std::string baseName;
  std::string extension = "exr";
  int32_t format = kFormatExr;
  int32_t width = 0, height = 0;
  DialogSettings settings;
  // Frames are kept wide, so that a range reaching the ends of the 32-bit frame numbers neither
  // overflows its count nor its last step.
  int64_t firstFrame = 0, lastFrame = 0;
  int64_t step = 1;
  int64_t preRollStart = 0;
  int64_t nextFrame = 0;
  int64_t written = 0;
  int64_t total = 0;
  double startTime = 0.0;      // host milliseconds
  double firstImageTime = 0.0; // host milliseconds when the first image's render began
};

// Where the time of an export went, in host milliseconds, for the benchmark and the curious.
struct ExportTimings {
  double simulateMs = 0.0; // the copy's animation passes
  double readMs = 0.0;     // reading and uploading particles
  double renderMs = 0.0;
  double showMs = 0.0; // handing each image to the preview area
  double writeMs = 0.0;
  double jobMs = 0.0; // everything the job's timer steps took, the above included
};

} // namespace ek::plugin
