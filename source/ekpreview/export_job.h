// The dialog's export: "Export image" writes the current frame once; "Export sequence" simulates a
// private copy of the scene from the start of the timeline and writes every step-th frame of the
// render settings' range, one timer tick at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ekpreview/dialog_settings.h"
#include "ekpreview/export_timings.h"
#include "ekpreview/job_site.h"
#include "ekpreview/language.h"
#include "host/dialog.h"
#include "host/document.h"
#include "host/object.h"

namespace ek::plugin {

// Where and how the images of an export are written.
struct ExportTarget {
  std::string folder;
  std::string stem;
  std::string extension = "exr";
  int32_t format = kFormatExr;
  int32_t width = 0, height = 0;
};

// A sequence export while it runs in the dialog's timer.
struct ExportSequence {
  ExportTarget target;
  bool cancelRequested = false;
  std::optional<host::OwnedDocument> sceneCopy; // the private clone the job simulates
  std::optional<host::Object> cameraInCopy;     // owned by the copy or by cameraClone
  std::optional<host::OwnedObject> cameraClone; // only when the camera was not found in the tree
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

// Runs the exports of one dialog window. It renders and saves through the site and drives the
// window's export controls: the format, the two export buttons, cancel, the progress bar and its
// text, and the timer, which runs fast while a sequence is exported.
class ExportJob {
public:
  ExportJob(JobSite &site, host::Dialog &window) : site_(site), window_(window) {}
  ExportJob(const ExportJob &) = delete;
  ExportJob &operator=(const ExportJob &) = delete;

  // The export buttons and cancel.
  void exportImage();
  void startSequence();
  void cancel();
  // One timer step of a running sequence.
  void tick();
  // Ends a running sequence without a message box: its window is gone.
  void windowClosed();

  bool running() const { return sequence_.has_value(); }
  // True while an export renders: the preview must leave the renderer alone.
  bool busy() const { return saving_ || running(); }
  // Every status text shown while an export saves is its last message, reported when it ends.
  void noteStatus(const std::string &text);
  // Enables the export buttons and the format while idle, cancel while a sequence runs.
  void updateControls();

  const ExportTimings &timings() const { return timings_; }
  // renderAndSave adds the time of each image's steps here.
  ExportTimings &timings() { return timings_; }

private:
  struct Prepared;
  std::optional<Prepared> prepare();
  void start(const host::Document &document, const ExportTarget &target);
  void step();
  void showProgress();
  void finish(const Text &ending, bool keepBar, bool showMessageBox);
  void setProgress(double fraction, const std::string &text, bool barShown);
  void showError(const std::string &message);

  JobSite &site_;
  host::Dialog &window_;
  std::optional<ExportSequence> sequence_;
  ExportTimings timings_;
  bool saving_ = false;
  std::string lastMessage_;
};

} // namespace ek::plugin
