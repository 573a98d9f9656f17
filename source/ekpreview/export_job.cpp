// The dialog's export jobs and their progress in the window.
#include "ekpreview/export_job.h"

#include <algorithm>
#include <cmath>

#include "ekpreview/camera_path.h"
#include "ekpreview/export_naming.h"
#include "ekpreview/plugin_ids.h"
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

struct ExportJob::Prepared {
  host::Document document;
  ExportTarget target;
};

std::optional<ExportJob::Prepared> ExportJob::prepare() {
  if (running()) {
    return std::nullopt;
  }
  if (!site_.rendererReady()) {
    return std::nullopt;
  }
  const auto document = host::Document::active();
  if (!document || !host::isMainThread()) {
    return std::nullopt;
  }
  const Language language = site_.language();
  auto folder = host::chooseFolder(pick(text::kChooseExportFolder, language));
  if (!folder) {
    return std::nullopt;
  }
  const auto width = renderSettingsSize(*document, host::render_data::kWidth);
  const auto height = renderSettingsSize(*document, host::render_data::kHeight);
  constexpr double kLargest = double(INT32_MAX);
  if (!width || !height || !(*width >= 1.0 && *width <= kLargest) ||
      !(*height >= 1.0 && *height <= kLargest)) {
    showError(pick(text::kInvalidResolution, language));
    return std::nullopt;
  }
  Prepared prepared{*document, ExportTarget{std::move(*folder), exportStem(*document), "exr",
                                            kFormatExr, int32_t(*width), int32_t(*height)}};
  const int32_t format = window_.getInt(control::kFormat).value_or(kFormatExr);
  if (format == kFormatPng16 || format == kFormatPng8) {
    prepared.target.format = format;
    prepared.target.extension = "png";
  }
  return prepared;
}

void ExportJob::exportImage() {
  const auto prepared = prepare();
  if (!prepared) {
    return;
  }
  const host::Document &document = prepared->document;
  const ExportTarget &target = prepared->target;
  const DialogSettings settings = site_.readSettings();
  const int32_t frame = document.time().frame(document.fps());
  const auto path = frameFileName(target.folder, target.stem, frame, target.extension);
  saving_ = true;
  lastMessage_.clear();
  const bool saved = path && site_.renderAndSave(document, document.activeViewCamera(),
                                                 target.width, target.height, settings, frame,
                                                 *path, ImageFormat(target.format));
  saving_ = false;
  site_.forgetPreview();
  if (saved) {
    setProgress(
        1.0,
        host::substitute(pick(text::kFrameSaved, site_.language()),
                         {number(frame), number(target.width), number(target.height), *path}),
        true);
  } else {
    showError(lastMessage_);
  }
}

void ExportJob::startSequence() {
  const auto prepared = prepare();
  if (!prepared) {
    return;
  }
  // Without a frame rate every time is frame 0: a sequence would write one image and call it done.
  if (prepared->document.fps() < 1) {
    showError(pick(text::kNoFrameRate, site_.language()));
    return;
  }
  start(prepared->document, prepared->target);
}

void ExportJob::start(const host::Document &document, const ExportTarget &target) {
  const int32_t fps = document.fps();
  ExportSequence sequence;
  frameRange(document, fps, sequence.firstFrame, sequence.lastFrame);
  sequence.step = frameStep(document);
  sequence.lastFrame = std::max(sequence.lastFrame, sequence.firstFrame);
  sequence.preRollStart =
      std::min(documentFrame(document, host::document::kMinTime, fps), sequence.firstFrame);
  sequence.total = (sequence.lastFrame - sequence.firstFrame) / sequence.step + 1;
  sequence.nextFrame = sequence.preRollStart;
  sequence.settings = site_.readSettings();
  sequence.startTime = host::milliseconds();

  const auto camera = document.activeViewCamera();
  if (!camera) {
    showError(pick(text::kNoCamera, site_.language()));
    return;
  }
  const auto path = objectPath(document.firstObject(), *camera);
  sequence.sceneCopy = document.clone();
  if (!sequence.sceneCopy) {
    showError(pick(text::kSceneNotCopied, site_.language()));
    return;
  }
  if (path) {
    sequence.cameraInCopy = followPath(sequence.sceneCopy->document().firstObject(), *path);
  } else if ((sequence.cameraClone = camera->clone())) {
    sequence.cameraClone->object().setGlobalMatrix(camera->globalMatrix());
    sequence.cameraInCopy = sequence.cameraClone->object();
  }
  if (!sequence.cameraInCopy) {
    showError(pick(text::kCameraNotInCopy, site_.language()));
    return; // the copy and any clone go with the sequence
  }

  sequence.target = target;
  sequence_ = std::move(sequence);
  timings_ = ExportTimings{};
  saving_ = true;
  lastMessage_.clear();
  updateControls();
  setProgress(0.0, pick(text::kExportStarting, site_.language()), true);
  window_.setTimer(kJobTimerMs);
}

void ExportJob::tick() {
  const double tickStart = host::milliseconds();
  step();
  timings_.jobMs += host::milliseconds() - tickStart;
}

void ExportJob::step() {
  ExportSequence &job = *sequence_;
  if (job.cancelRequested) {
    finish(text::kEndCancelled, false, true);
    return;
  }
  const host::Document copy = job.sceneCopy->document();
  const int32_t fps = copy.fps();
  const double t0 = host::milliseconds();
  while (job.nextFrame <= job.lastFrame) {
    const int64_t c = job.nextFrame;
    const double passStart = host::milliseconds();
    copy.setTime(host::TimeValue::fromFrame(int32_t(c), fps));
    copy.executePasses(true, true, true);
    timings_.simulateMs += host::milliseconds() - passStart;
    job.nextFrame = c + 1;
    if (c >= job.firstFrame && (c - job.firstFrame) % job.step == 0) {
      if (job.written == 0) {
        job.firstImageTime = host::milliseconds();
      }
      const ExportTarget &target = job.target;
      const auto path = frameFileName(target.folder, target.stem, int32_t(c), target.extension);
      if (!path ||
          !site_.renderAndSave(copy, job.cameraInCopy, target.width, target.height, job.settings,
                               int32_t(c), *path, ImageFormat(target.format))) {
        finish(text::kEndFailed, false, true);
        return;
      }
      ++job.written;
      break;
    }
    if (host::milliseconds() - t0 > kTickSliceMs) {
      break;
    }
  }
  showProgress();
  if (job.nextFrame > job.lastFrame) {
    finish(job.written == job.total ? text::kEndFinished : text::kEndIncomplete, true, true);
  }
}

void ExportJob::showProgress() {
  const ExportSequence &job = *sequence_;
  const Language language = site_.language();
  const double now = host::milliseconds();
  const std::string elapsed = formatDuration((now - job.startTime) / kMsPerSecond);
  if (job.written >= 1) {
    const double fraction = double(job.written) / double(job.total);
    const double remaining = (now - job.firstImageTime) / kMsPerSecond / double(job.written) *
                             double(job.total - job.written);
    const int64_t percent = int64_t(fraction * 100.0 + 0.5);
    setProgress(fraction,
                host::substitute(pick(text::kImageProgress, language),
                                 {number(job.written), number(job.total), number(job.nextFrame - 1),
                                  number(percent), elapsed, formatDuration(remaining)}),
                true);
  } else {
    const double preRollFrames = std::max(double(job.firstFrame - job.preRollStart + 1), 1.0);
    setProgress(double(job.nextFrame - job.preRollStart) / preRollFrames * kPreRollShare,
                host::substitute(pick(text::kPreRollProgress, language),
                                 {number(job.nextFrame - 1), number(job.firstFrame), elapsed}),
                true);
  }
  const double simulated = double(job.nextFrame - job.preRollStart);
  const double span = std::max(double(job.lastFrame - job.preRollStart + 1), 1.0);
  host::setStatusBarPercent(int32_t(simulated * 100.0 / span));
}

void ExportJob::finish(const Text &ending, bool keepBar, bool showMessageBox) {
  ExportSequence ended = std::move(*sequence_);
  sequence_.reset();
  saving_ = false;
  window_.setTimer(kTimerIntervalMs);
  ended.cameraInCopy.reset();
  ended.cameraClone.reset();
  ended.sceneCopy.reset();
  host::clearStatusBar();
  site_.forgetPreview();
  updateControls();

  const Language language = site_.language();
  const std::string word = pick(ending, language);
  const std::string duration =
      formatDuration((host::milliseconds() - ended.startTime) / kMsPerSecond);
  const double fraction = ended.total < 1 ? 0.0 : double(ended.written) / double(ended.total);
  setProgress(fraction,
              host::substitute(pick(text::kExportEnded, language),
                               {word, number(ended.written), number(ended.total), duration}),
              keepBar);
  if (!showMessageBox) {
    return;
  }
  std::string summary = host::substitute(pick(text::kSummaryTitle, language), {word});
  summary += "\n\n";
  summary +=
      host::substitute(pick(text::kSummaryRange, language),
                       {number(ended.firstFrame), number(ended.lastFrame), number(ended.step)}) +
      "\n";
  summary += host::substitute(pick(text::kSummaryWritten, language),
                              {number(ended.written), number(ended.total),
                               number(ended.target.width), number(ended.target.height)}) +
             "\n";
  summary += host::substitute(pick(text::kSummaryDuration, language), {duration}) + "\n";
  summary += host::substitute(pick(text::kSummaryFolder, language), {ended.target.folder});
  if (!lastMessage_.empty()) {
    summary += "\n\n" + std::string(pick(text::kSummaryLastMessage, language)) + lastMessage_;
  }
  host::messageBox(summary, host::message_box::kOkExclamation);
}

void ExportJob::setProgress(double fraction, const std::string &text, bool barShown) {
  window_.setProgress(control::kProgressBar, barShown, std::clamp(fraction, 0.0, 1.0));
  window_.setText(control::kProgressText, text);
}

void ExportJob::showError(const std::string &message) {
  const std::string mark = pick(text::kErrorPrefix, site_.language());
  setProgress(0.0, message.starts_with(mark) ? message : mark + message, false);
}

void ExportJob::cancel() {
  if (!running()) {
    return;
  }
  sequence_->cancelRequested = true;
  window_.setText(control::kProgressText, pick(text::kCancelling, site_.language()));
}

void ExportJob::windowClosed() {
  if (running()) {
    finish(text::kEndWindowClosed, false, false);
  }
}

void ExportJob::noteStatus(const std::string &text) {
  if (saving_) {
    lastMessage_ = text;
  }
}

void ExportJob::updateControls() {
  const bool idle = !running();
  window_.enable(control::kExportImage, idle);
  window_.enable(control::kExportSequence, idle);
  window_.enable(control::kFormat, idle);
  window_.enable(control::kCancelExport, !idle);
}

} // namespace ek::plugin
