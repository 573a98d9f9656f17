// The export job on its own: a scripted site stands in for the dialog, so that each save can show
// messages, fail or succeed on cue and report what the job asked of it, without a renderer.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connected_host.h"
#include "ekpreview/dialog_layout.h"
#include "ekpreview/export_job.h"
#include "ekpreview/plugin_ids.h"
#include "ekpreview/settings_io.h"
#include "host/dialog.h"
#include "plugin_fixture.h"

namespace flarion_test {
namespace {

using ek::plugin::DialogSettings;
using ek::plugin::ExportJob;
using ek::plugin::ImageFormat;
using ek::plugin::Language;

// What the job asked of one save.
struct Save {
  int32_t frame = 0;
  int32_t width = 0, height = 0;
  std::string path;
  ImageFormat format = ImageFormat::Exr;
  bool ofActiveDocument = false; // false when the job rendered its private copy
  std::string camera;            // the camera's name, empty without one
  int32_t samples = 0;           // of the settings handed over
  bool jobBusy = false;          // what the job told the preview meanwhile
};

class ScriptedSite final : public ek::host::DialogHandler, public ek::plugin::JobSite {
public:
  ScriptedSite() : window_(*this), job_(*this, window_) {}

  bool open() { return window_.open(kCommandId, 800, 600); }
  ExportJob &job() { return job_; }

  Language language() const override { return Language::English; }
  void showStatus(const std::string &text) override {
    statuses.push_back(text);
    job_.noteStatus(text);
  }
  DialogSettings readSettings() const override { return settings; }
  bool rendererReady() override { return rendererUsable; }
  bool renderAndSave(const ek::host::Document &document,
                     const std::optional<ek::host::Object> &camera, int32_t width, int32_t height,
                     const DialogSettings &used, int32_t frame, const std::string &path,
                     ImageFormat format) override {
    const auto active = ek::host::Document::active();
    saves.push_back({frame, width, height, path, format, active && *active == document,
                     camera ? camera->name() : std::string(), used.samples, job_.busy()});
    return onSave ? onSave(frame) : true;
  }
  void forgetPreview() override { ++previewsForgotten; }

  bool createLayout() override {
    ek::plugin::buildLayout(window_, Language::English);
    return true;
  }
  bool initValues() override {
    ek::plugin::setDefaults(window_);
    job_.updateControls();
    return true;
  }
  bool command(int32_t) override { return true; }
  void timer() override {}
  void closed() override {}

  DialogSettings settings;
  bool rendererUsable = true;
  std::function<bool(int32_t frame)> onSave; // answers each save; every save succeeds without it
  std::vector<std::string> statuses;
  std::vector<Save> saves;
  int32_t previewsForgotten = 0;

private:
  ek::host::Dialog window_;
  ExportJob job_;
};

class ExportJobTest : public ConnectedHost {
protected:
  void SetUp() override {
    ConnectedHost::SetUp();
    document_ = &host_.addDocument(makeScene());
    document_->fileName = "shot.scn";
    document_->render.width = 48;
    document_->render.height = 27;
    folder_ = scratch_.path().string();
    host_.setFolderChoice(folder_);
    site_ = std::make_unique<ScriptedSite>();
    ASSERT_TRUE(site().open());
    window_ = host_.dialog(kCommandId);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    site_.reset(); // the window goes while the host is still connected
    ConnectedHost::TearDown();
  }
  void range(int32_t first, int32_t last, int32_t step) {
    document_->render.from = standin::Time::ofFrame(first, document_->fps);
    document_->render.to = standin::Time::ofFrame(last, document_->fps);
    document_->render.step = step;
  }
  ScriptedSite &site() { return *site_; }
  // Ticks the running sequence until it ends.
  void runToEnd() {
    for (int32_t i = 0; i < 500 && site().job().running(); ++i) {
      site().job().tick();
    }
    ASSERT_FALSE(site().job().running()) << "the sequence did not end";
  }
  std::string progressText() { return window_->find(control::kProgressText)->text; }
  std::string lastBox() const {
    return host_.messageBoxes().empty() ? std::string() : host_.messageBoxes().back();
  }
  std::string path(const std::string &leaf) const {
    return (std::filesystem::path(folder_) / leaf).string();
  }

  ScratchFolder scratch_;
  std::string folder_;
  standin::Document *document_ = nullptr;
  std::unique_ptr<ScriptedSite> site_;
  standin::DialogWindow *window_ = nullptr;
};

TEST_F(ExportJobTest, SequenceSavesEveryStepthFrameOfTheCopyWithTheSettingsItStartedWith) {
  range(2, 9, 3);
  ASSERT_TRUE(host_.userChoose(*window_, control::kFormat, 2));
  site().settings.samples = 5;
  site().job().startSequence();
  ASSERT_TRUE(site().job().running());
  EXPECT_FALSE(window_->find(control::kExportSequence)->enabled);
  EXPECT_TRUE(window_->find(control::kCancelExport)->enabled);
  site().settings.samples = 9; // changed while the job runs: later frames keep the first settings
  runToEnd();

  ASSERT_EQ(site().saves.size(), 3u);
  const int32_t frames[] = {2, 5, 8};
  const char *names[] = {"shot_0002.png", "shot_0005.png", "shot_0008.png"};
  for (size_t i = 0; i < 3; ++i) {
    const Save &save = site().saves[i];
    EXPECT_EQ(save.frame, frames[i]);
    EXPECT_EQ(save.path, path(names[i]));
    EXPECT_EQ(save.format, ImageFormat::Png8);
    EXPECT_EQ(save.width, 48);
    EXPECT_EQ(save.height, 27);
    EXPECT_FALSE(save.ofActiveDocument);
    EXPECT_EQ(save.camera, "Camera");
    EXPECT_EQ(save.samples, 5);
    EXPECT_TRUE(save.jobBusy);
  }
  EXPECT_FALSE(site().job().busy());
  EXPECT_GE(site().previewsForgotten, 1);
  EXPECT_TRUE(window_->find(control::kExportSequence)->enabled);
  EXPECT_FALSE(window_->find(control::kCancelExport)->enabled);
  EXPECT_EQ(lastBox().rfind("[48] Flarion Export finished\n\nFrame range: 2 to 9 (step 3)\n"
                            "Written: 3 of 3 image(s), 48x27\n",
                            0),
            0u)
      << lastBox();
}

TEST_F(ExportJobTest, TheSummaryNamesTheLastMessageOfThisJobsSaves) {
  range(0, 3, 1);
  site().showStatus("shown before the export");
  site().onSave = [&](int32_t frame) {
    site().showStatus("saving " + std::to_string(frame));
    if (frame == 2) {
      site().showError("disk gone");
      return false;
    }
    return true;
  };
  site().job().startSequence();
  runToEnd();
  EXPECT_EQ(site().saves.size(), 3u);
  EXPECT_TRUE(progressText().starts_with("Export stopped with an error: 2 of 4 image(s)"))
      << progressText();
  EXPECT_TRUE(lastBox().ends_with("\n\nLast message: ERROR: disk gone")) << lastBox();

  // Messages of an earlier job or shown between jobs are not this job's.
  site().showStatus("shown between the exports");
  site().onSave = nullptr;
  site().job().startSequence();
  runToEnd();
  EXPECT_EQ(lastBox().find("Last message"), std::string::npos) << lastBox();
}

TEST_F(ExportJobTest, ExportImageReportsWhatItsSaveShowedMarkedOnce) {
  host_.setFrame(*document_, 4);
  site().onSave = [&](int32_t) {
    site().showStatus("not marked");
    return false;
  };
  site().job().exportImage();
  EXPECT_EQ(progressText(), "ERROR: not marked");
  site().onSave = [&](int32_t) {
    site().showError("marked");
    return false;
  };
  site().job().exportImage();
  EXPECT_EQ(progressText(), "ERROR: marked");

  site().onSave = nullptr;
  site().job().exportImage();
  ASSERT_EQ(site().saves.size(), 3u);
  const Save &save = site().saves.back();
  EXPECT_EQ(save.frame, 4);
  EXPECT_TRUE(save.ofActiveDocument);
  EXPECT_TRUE(save.jobBusy);
  EXPECT_FALSE(site().job().busy());
  EXPECT_EQ(site().previewsForgotten, 3);
  EXPECT_EQ(progressText(), "Frame 4 saved (48x27): " + path("shot_0004.exr"));
}

TEST_F(ExportJobTest, AnUnusableRendererStopsBothExportsBeforeTheFolderChooser) {
  site().rendererUsable = false;
  site().job().exportImage();
  site().job().startSequence();
  EXPECT_FALSE(site().job().running());
  EXPECT_TRUE(host_.folderChooserTitles().empty());
  EXPECT_TRUE(site().saves.empty());
  EXPECT_EQ(site().previewsForgotten, 0);
}

TEST_F(ExportJobTest, CancelEndsTheSequenceAtTheNextTickWithoutAnotherSave) {
  range(0, 20, 1);
  site().job().startSequence();
  site().job().tick();
  ASSERT_EQ(site().saves.size(), 1u);
  site().job().cancel();
  EXPECT_EQ(progressText(), "Cancelling ...");
  EXPECT_TRUE(site().job().running());
  site().job().tick();
  EXPECT_FALSE(site().job().running());
  EXPECT_EQ(site().saves.size(), 1u);
  EXPECT_TRUE(lastBox().starts_with("[48] Flarion Export cancelled\n")) << lastBox();
}

} // namespace
} // namespace flarion_test
