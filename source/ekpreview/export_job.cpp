// The export of FlarionDialog: "Export image" writes the current frame once; "Export sequence"
// simulates a private copy of the scene from the start of the timeline and writes every step-th
// frame of the render settings' range, one timer tick at a time.
#include "ekpreview/export_job.h"

#include <algorithm>
#include <cmath>

#include "ekpreview/camera_path.h"
#include "ekpreview/export_naming.h"
#include "ekpreview/flarion_dialog.h"
#include "ekpreview/render_settings_size.h"
#include "ekpreview/texts.h"
#include "host/files.h"
#include "host/host_ids.h"
#include "host/messages.h"
#include "host/state.h"
#include "host/text.h"

namespace ek::plugin {

namespace {

constexpr int32_t kJobTimerMs = 5;
// A tick simulates frames until it has saved an image or spent this long.
constexpr double kTickSliceMs = 100.0;
// The pre-roll fills at most this share of the progress bar.
constexpr double kPreRollShare = 0.05;
constexpr double kMsPerSecond = 1000.0;

std::string number(int64_t value) { return std::to_string(value); }

int64_t frameAt(const host::TimeValue &time, int32_t fps) { return time.frame(fps); }

int64_t documentFrame(const host::Document &document, int32_t id, int32_t fps) {
  return frameAt(document.parameter(id).time().value_or(host::TimeValue{}), fps);
}

// The frame range of the render settings' frame-sequence mode.
void frameRange(const host::Document &document, int32_t fps, int64_t &first, int64_t &last) {
  namespace rd = host::render_data;
  namespace doc = host::document;
  const auto render = document.renderSettings();
  auto renderValue = [&](int32_t id) { return render ? render->parameter(id) : host::Value(); };
  switch (renderValue(rd::kFrameSequence).asInteger().value_or(0)) {
  case rd::kSequenceCurrentFrame:
    first = last = frameAt(document.time(), fps);
    break;
  case rd::kSequenceAllFrames:
    first = documentFrame(document, doc::kMinTime, fps);
    last = documentFrame(document, doc::kMaxTime, fps);
    break;
  case rd::kSequencePreviewRange:
    first = documentFrame(document, doc::kPreviewMinTime, fps);
    last = documentFrame(document, doc::kPreviewMaxTime, fps);
    break;
  default:
    first = frameAt(renderValue(rd::kFrameFrom).time().value_or(host::TimeValue{}), fps);
    last = frameAt(renderValue(rd::kFrameTo).time().value_or(host::TimeValue{}), fps);
    break;
  }
}

int64_t frameStep(const host::Document &document) {
  const auto render = document.renderSettings();
  const int64_t step =
      render ? render->parameter(host::render_data::kFrameStep).asInteger().value_or(1) : 1;
  return std::max<int64_t>(step, 1);
}

} // namespace

struct FlarionDialog::ExportTarget {
  host::Document document;
  std::string folder;
  int32_t width = 0, height = 0;
  std::string stem;
  int32_t format = kFormatExr;
  std::string extension;
};

std::optional<FlarionDialog::ExportTarget> FlarionDialog::prepareExport() {
  if (job_.running) {
    return std::nullopt;
  }
  if (!ensureContext()) {
    showError(renderer_.error());
    return std::nullopt;
  }
  const auto document = host::Document::active();
  if (!document || !host::isMainThread()) {
    return std::nullopt;
  }
  auto folder = host::chooseFolder(pick(text::kChooseExportFolder, language_));
  if (!folder) {
    return std::nullopt;
  }
  const auto width = renderSettingsSize(*document, host::render_data::kWidth);
  const auto height = renderSettingsSize(*document, host::render_data::kHeight);
  constexpr double kLargest = double(INT32_MAX);
  if (!width || !height || !(*width >= 1.0 && *width <= kLargest) ||
      !(*height >= 1.0 && *height <= kLargest)) {
    showExportError(pick(text::kInvalidResolution, language_));
    return std::nullopt;
  }
  ExportTarget target{*document,
                      std::move(*folder),
                      int32_t(*width),
                      int32_t(*height),
                      exportStem(*document),
                      kFormatExr,
                      "exr"};
  const int32_t format = dialog_.getInt(control::kFormat).value_or(kFormatExr);
  if (format == kFormatPng16 || format == kFormatPng8) {
    target.format = format;
    target.extension = "png";
  }
  return target;
}

void FlarionDialog::exportImage() {
  const auto target = prepareExport();
  if (!target) {
    return;
  }
  const host::Document &document = target->document;
  const DialogSettings settings = readSettings();
  const int32_t frame = document.time().frame(document.fps());
  const auto path = frameFileName(target->folder, target->stem, frame, target->extension);
  saveInProgress_ = true;
  lastMessage_.clear();
  const bool saved =
      path && renderAndSave(document, document.activeViewCamera(), target->width, target->height,
                            settings, frame, *path, ImageFormat(target->format));
  saveInProgress_ = false;
  forgetPreview();
  if (saved) {
    setExportProgress(
        1.0,
        host::substitute(pick(text::kFrameSaved, language_),
                         {number(frame), number(target->width), number(target->height), *path}),
        true);
  } else {
    showExportError(lastMessage_);
  }
}

void FlarionDialog::startSequenceExport() {
  const auto target = prepareExport();
  if (!target) {
    return;
  }
  // Without a frame rate every time is frame 0: a sequence would write one image and call it done.
  if (target->document.fps() < 1) {
    showExportError(pick(text::kNoFrameRate, language_));
    return;
  }
  startJob(*target);
}

void FlarionDialog::startJob(const ExportTarget &target) {
  const host::Document &document = target.document;
  const int32_t fps = document.fps();
  ExportJob job;
  frameRange(document, fps, job.firstFrame, job.lastFrame);
  job.step = frameStep(document);
  job.lastFrame = std::max(job.lastFrame, job.firstFrame);
  job.preRollStart =
      std::min(documentFrame(document, host::document::kMinTime, fps), job.firstFrame);
  job.total = (job.lastFrame - job.firstFrame) / job.step + 1;
  job.nextFrame = job.preRollStart;
  job.settings = readSettings();
  job.startTime = host::milliseconds();

  const auto camera = document.activeViewCamera();
  if (!camera) {
    showExportError(pick(text::kNoCamera, language_));
    return;
  }
  const auto path = objectPath(document.firstObject(), *camera);
  job.sceneCopy = document.clone();
  if (!job.sceneCopy) {
    showExportError(pick(text::kSceneNotCopied, language_));
    return;
  }
  if (path) {
    job.cameraInCopy = followPath(job.sceneCopy->document().firstObject(), *path);
  } else if ((job.cameraClone = camera->clone())) {
    job.cameraClone->object().setGlobalMatrix(camera->globalMatrix());
    job.cameraInCopy = job.cameraClone->object();
  }
  if (!job.cameraInCopy) {
    showExportError(pick(text::kCameraNotInCopy, language_));
    return; // the copy and any clone go with the job
  }

  job.running = true;
  job.folder = target.folder;
  job.baseName = target.stem;
  job.extension = target.extension;
  job.format = target.format;
  job.width = target.width;
  job.height = target.height;
  job_ = std::move(job);
  exportTimings_ = ExportTimings{};
  saveInProgress_ = true;
  lastMessage_.clear();
  updateControls();
  setExportProgress(0.0, pick(text::kExportStarting, language_), true);
  dialog_.setTimer(kJobTimerMs);
}

void FlarionDialog::exportTick() {
  const double tickStart = host::milliseconds();
  exportStep();
  exportTimings_.jobMs += host::milliseconds() - tickStart;
}

void FlarionDialog::exportStep() {
  if (job_.cancelRequested) {
    finishExport(text::kEndCancelled, false, true);
    return;
  }
  const host::Document copy = job_.sceneCopy->document();
  const int32_t fps = copy.fps();
  const double t0 = host::milliseconds();
  while (job_.nextFrame <= job_.lastFrame) {
    const int64_t c = job_.nextFrame;
    const double passStart = host::milliseconds();
    copy.setTime(host::TimeValue::fromFrame(int32_t(c), fps));
    copy.executePasses(true, true, true);
    exportTimings_.simulateMs += host::milliseconds() - passStart;
    job_.nextFrame = c + 1;
    if (c >= job_.firstFrame && (c - job_.firstFrame) % job_.step == 0) {
      if (job_.written == 0) {
        job_.firstImageTime = host::milliseconds();
      }
      const auto path = frameFileName(job_.folder, job_.baseName, int32_t(c), job_.extension);
      if (!path || !renderAndSave(copy, job_.cameraInCopy, job_.width, job_.height, job_.settings,
                                  int32_t(c), *path, ImageFormat(job_.format))) {
        finishExport(text::kEndFailed, false, true);
        return;
      }
      ++job_.written;
      break;
    }
    if (host::milliseconds() - t0 > kTickSliceMs) {
      break;
    }
  }
  showExportProgress();
  if (job_.nextFrame > job_.lastFrame) {
    finishExport(job_.written == job_.total ? text::kEndFinished : text::kEndIncomplete, true,
                 true);
  }
}

void FlarionDialog::showExportProgress() {
  const double now = host::milliseconds();
  const std::string elapsed = formatDuration((now - job_.startTime) / kMsPerSecond);
  if (job_.written >= 1) {
    const double fraction = double(job_.written) / double(job_.total);
    const double remaining = (now - job_.firstImageTime) / kMsPerSecond / double(job_.written) *
                             double(job_.total - job_.written);
    const int64_t percent = int64_t(fraction * 100.0 + 0.5);
    setExportProgress(
        fraction,
        host::substitute(pick(text::kImageProgress, language_),
                         {number(job_.written), number(job_.total), number(job_.nextFrame - 1),
                          number(percent), elapsed, formatDuration(remaining)}),
        true);
  } else {
    const double preRollFrames = std::max(double(job_.firstFrame - job_.preRollStart + 1), 1.0);
    setExportProgress(
        double(job_.nextFrame - job_.preRollStart) / preRollFrames * kPreRollShare,
        host::substitute(pick(text::kPreRollProgress, language_),
                         {number(job_.nextFrame - 1), number(job_.firstFrame), elapsed}),
        true);
  }
  const double simulated = double(job_.nextFrame - job_.preRollStart);
  const double span = std::max(double(job_.lastFrame - job_.preRollStart + 1), 1.0);
  host::setStatusBarPercent(int32_t(simulated * 100.0 / span));
}

void FlarionDialog::finishExport(const Text &ending, bool keepBar, bool showMessageBox) {
  ExportJob ended = std::move(job_);
  job_ = ExportJob{};
  saveInProgress_ = false;
  dialog_.setTimer(kTimerIntervalMs);
  ended.cameraInCopy.reset();
  ended.cameraClone.reset();
  ended.sceneCopy.reset();
  host::clearStatusBar();
  forgetPreview();
  updateControls();

  const std::string word = pick(ending, language_);
  const std::string duration =
      formatDuration((host::milliseconds() - ended.startTime) / kMsPerSecond);
  const double fraction = ended.total < 1 ? 0.0 : double(ended.written) / double(ended.total);
  setExportProgress(fraction,
                    host::substitute(pick(text::kExportEnded, language_),
                                     {word, number(ended.written), number(ended.total), duration}),
                    keepBar);
  if (!showMessageBox) {
    return;
  }
  std::string summary = host::substitute(pick(text::kSummaryTitle, language_), {word});
  summary += "\n\n";
  summary +=
      host::substitute(pick(text::kSummaryRange, language_),
                       {number(ended.firstFrame), number(ended.lastFrame), number(ended.step)}) +
      "\n";
  summary += host::substitute(pick(text::kSummaryWritten, language_),
                              {number(ended.written), number(ended.total), number(ended.width),
                               number(ended.height)}) +
             "\n";
  summary += host::substitute(pick(text::kSummaryDuration, language_), {duration}) + "\n";
  summary += host::substitute(pick(text::kSummaryFolder, language_), {ended.folder});
  if (!lastMessage_.empty()) {
    summary += "\n\n" + std::string(pick(text::kSummaryLastMessage, language_)) + lastMessage_;
  }
  host::messageBox(summary, host::message_box::kOkExclamation);
}

void FlarionDialog::setExportProgress(double fraction, const std::string &text, bool barShown) {
  dialog_.setProgress(control::kProgressBar, barShown, std::clamp(fraction, 0.0, 1.0));
  dialog_.setText(control::kProgressText, text);
}

void FlarionDialog::showExportError(const std::string &message) {
  const std::string mark = pick(text::kErrorPrefix, language_);
  setExportProgress(0.0, message.starts_with(mark) ? message : mark + message, false);
}

void FlarionDialog::cancelExport() {
  if (!job_.running) {
    return;
  }
  job_.cancelRequested = true;
  dialog_.setText(control::kProgressText, pick(text::kCancelling, language_));
}

void FlarionDialog::updateControls() {
  const bool idle = !job_.running;
  dialog_.enable(control::kExportImage, idle);
  dialog_.enable(control::kExportSequence, idle);
  dialog_.enable(control::kFormat, idle);
  dialog_.enable(control::kCancelExport, !idle);
}

void FlarionDialog::forgetPreview() {
  preview_.lastDocument = nullptr;
  preview_.lastKey.reset();
}

} // namespace ek::plugin
