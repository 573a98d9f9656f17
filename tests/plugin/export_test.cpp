// The export through the stand-in host, as a user runs it: the folder chooser, the frame range of
// the render settings, the files written, the progress, the summary and every way a job ends.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#if defined(__linux__)
#include <sys/mount.h>
#endif

#include "ekpreview/export_naming.h"
#include "host/host_ids.h"
#include "plugin_fixture.h"
#include "scene/builders.h"

namespace flarion_test {
namespace {

namespace fs = std::filesystem;
namespace rd = ek::host::render_data;
using standin::Time;

class Export : public PluginTest {
protected:
  void SetUp() override {
    start(Renderer::Real);
    document_->fileName = "scene.scn";
    document_->render.width = 64;
    document_->render.height = 36;
    document_->render.frameSequence = 0; // manual
    openDialog();
    folder_ = scratch_.path() / "out";
    fs::create_directories(folder_);
    host_->setFolderChoice(folder_.string());
  }
  void range(int32_t first, int32_t last, int32_t step = 1) {
    document_->render.from = Time::ofFrame(first, document_->fps);
    document_->render.to = Time::ofFrame(last, document_->fps);
    document_->render.step = step;
  }
  bool running() const { return control(control::kCancelExport).enabled; }
  // Presses "Export sequence" and lets the timer run until the job has ended.
  void exportSequence(int32_t maxTicks = 200) {
    ASSERT_TRUE(host_->userPress(*window_, control::kExportSequence));
    for (int32_t i = 0; i < maxTicks && running(); ++i) {
      host_->runTicks(1);
    }
    ASSERT_FALSE(running()) << "the job did not end";
  }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string progressText() const { return control(control::kProgressText).text; }
  const standin::Control &bar() const { return control(control::kProgressBar); }
  std::vector<std::string> progressTexts() const {
    std::vector<std::string> texts;
    for (const standin::TextEvent &e : host_->textEvents()) {
      if (e.controlId == control::kProgressText) {
        texts.push_back(e.text);
      }
    }
    return texts;
  }
  std::string lastBox() const {
    return host_->messageBoxes().empty() ? std::string() : host_->messageBoxes().back();
  }

  fs::path folder_;
};

TEST_F(Export, RangeWithAStepWritesEveryStepthFrame) {
  range(0, 10, 3);
  exportSequence();
  EXPECT_EQ(files(), (std::vector<std::string>{"scene_0000.exr", "scene_0003.exr", "scene_0006.exr",
                                               "scene_0009.exr"}));
  const std::vector<std::string> texts = progressTexts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts.front(), "Export starting ...");
  // The tick that saved frame 9, then the one that simulated frame 10 and found the range done.
  EXPECT_TRUE(texts[texts.size() - 3].starts_with("Image 4 of 4 (frame 9) | 100 % | elapsed "))
      << texts[texts.size() - 3];
  EXPECT_TRUE(texts[texts.size() - 2].starts_with("Image 4 of 4 (frame 10) | 100 % | elapsed "))
      << texts[texts.size() - 2];
  EXPECT_TRUE(progressText().starts_with("Export finished: 4 of 4 image(s) in 0:0"))
      << progressText();
  EXPECT_TRUE(bar().progressShown);
  EXPECT_DOUBLE_EQ(bar().progressFraction, 1.0);
  const std::string box = lastBox();
  EXPECT_TRUE(box.starts_with("[48] Flarion Export finished\n\nFrame range: 0 to 10 (step 3)\n"
                              "Written: 4 of 4 image(s), 64x36\nDuration: 0:0"))
      << box;
  EXPECT_NE(box.find("\nFolder: " + folder_.string()), std::string::npos) << box;
  // Frame 10 is simulated but not saved; the status bar reached 100 % and was cleared.
  const auto &bar = host_->statusBar();
  ASSERT_GE(bar.size(), 2u);
  EXPECT_EQ(bar[bar.size() - 2].percent, 100);
  EXPECT_TRUE(bar.back().cleared);
  // The timer is back at 40 ms and the buttons are enabled again.
  EXPECT_EQ(window_->timerInterval, 40);
  EXPECT_TRUE(control(control::kExportImage).enabled);
  EXPECT_TRUE(control(control::kFormat).enabled);
}

TEST_F(Export, CurrentFrameModeWritesOneImageAfterAPreRoll) {
  document_->render.frameSequence = rd::kSequenceCurrentFrame;
  host_->setFrame(*document_, 12);
  exportSequence();
  EXPECT_EQ(files(), (std::vector<std::string>{"scene_0012.exr"}));
  EXPECT_NE(lastBox().find("Frame range: 12 to 12 (step 1)\nWritten: 1 of 1 image(s)"),
            std::string::npos)
      << lastBox();
  EXPECT_EQ(host_->documentCount(), 1u); // the copy is gone
}

TEST_F(Export, RangesOutsideTheUsualShape) {
  // A first frame below the document's minimum: the pre-roll starts there; negative names.
  ASSERT_TRUE(host_->userChoose(*window_, control::kFormat, 1));
  range(-12, -11);
  exportSequence();
  EXPECT_EQ(files(), (std::vector<std::string>{"scene_-011.png", "scene_-012.png"}));
  fs::remove_all(folder_);
  fs::create_directories(folder_);
  // The last frame below the first: one image at the first.
  range(8, 3);
  exportSequence();
  EXPECT_EQ(files(), (std::vector<std::string>{"scene_0008.png"}));
  fs::remove_all(folder_);
  fs::create_directories(folder_);
  // A step of 0 counts as 1; a document without a file name gives "partikel".
  ASSERT_TRUE(host_->userChoose(*window_, control::kFormat, 0));
  document_->fileName.clear();
  range(0, 2, 0);
  exportSequence();
  EXPECT_EQ(files(), (std::vector<std::string>{"partikel_0000.exr", "partikel_0001.exr",
                                               "partikel_0002.exr"}));
}

TEST_F(Export, CancelBeforeAnyImageEndsWithNothingWritten) {
  range(5, 9);
  ASSERT_TRUE(host_->userPress(*window_, control::kExportSequence));
  ASSERT_TRUE(running());
  // While the job runs, the export buttons and the format are disabled.
  EXPECT_FALSE(host_->userPress(*window_, control::kExportImage));
  EXPECT_FALSE(host_->userPress(*window_, control::kExportSequence));
  EXPECT_FALSE(host_->userChoose(*window_, control::kFormat, 2));
  EXPECT_EQ(window_->timerInterval, 5);
  ASSERT_TRUE(host_->userPress(*window_, control::kCancelExport));
  EXPECT_EQ(progressText(), "Cancelling ...");
  host_->runTicks(1);
  EXPECT_FALSE(running());
  EXPECT_TRUE(progressText().starts_with("Export cancelled: 0 of 5 image(s) in "))
      << progressText();
  EXPECT_FALSE(bar().progressShown);
  EXPECT_TRUE(lastBox().starts_with("[48] Flarion Export cancelled\n")) << lastBox();
  EXPECT_TRUE(files().empty());
  EXPECT_EQ(host_->documentCount(), 1u);
}

TEST_F(Export, ClosingTheWindowEndsTheJobWithoutAMessageBox) {
  range(0, 5);
  ASSERT_TRUE(host_->userPress(*window_, control::kExportSequence));
  host_->runTicks(2);
  EXPECT_EQ(host_->documentCount(), 2u); // the original and the job's copy
  host_->closeDialog(*window_);
  EXPECT_EQ(host_->documentCount(), 1u);
  EXPECT_TRUE(host_->messageBoxes().empty());
  EXPECT_TRUE(progressText().starts_with("Export cancelled (window closed): ")) << progressText();
  EXPECT_FALSE(files().empty());
  reopenDialog();
  EXPECT_TRUE(control(control::kExportSequence).enabled);
  EXPECT_EQ(window_->timerInterval, 40);
}

TEST_F(Export, CameraDeeperThan64LevelsIsClonedOnItsOwn) {
  auto root = std::make_unique<standin::SceneObject>(standin::kTypeNull, "Level 0");
  standin::SceneObject *parent = root.get();
  for (int level = 1; level < 70; ++level) {
    parent = &parent->addChild(std::make_unique<standin::SceneObject>(
        standin::kTypeNull, "Level " + std::to_string(level)));
  }
  standin::CameraSetup camera;
  camera.name = "Deep";
  camera.eye = {0.0, 100.0, -500.0};
  parent->addChild(standin::makeCamera(camera));
  document_->addObject(std::move(root));
  document_->activeCameraName = "Deep";
  host_->sceneChanged(*document_);
  range(3, 3);
  exportSequence();
  EXPECT_EQ(files(), (std::vector<std::string>{"scene_0003.exr"}));
  // TearDown fails on an object clone that the job did not free.
}

TEST_F(Export, AFailedImageStopsTheJobAndKeepsWhatWasWritten) {
  range(0, 3);
  fs::create_directories(folder_ / "scene_0002.exr"); // a folder where frame 2 should go
  exportSequence();
  EXPECT_EQ(files(),
            (std::vector<std::string>{"scene_0000.exr", "scene_0001.exr", "scene_0002.exr"}));
  EXPECT_TRUE(fs::is_directory(folder_ / "scene_0002.exr"));
  EXPECT_TRUE(progressText().starts_with("Export stopped with an error: 2 of 4 image(s)"))
      << progressText();
  EXPECT_FALSE(bar().progressShown);
  const std::string box = lastBox();
  EXPECT_NE(box.find("\n\nLast message: ERROR: could not write file: " +
                     (folder_ / "scene_0002.exr").string()),
            std::string::npos)
      << box;
}

TEST_F(Export, ExportImageWritesTheCurrentFrame) {
  host_->setFrame(*document_, 7);
  ASSERT_TRUE(host_->userChoose(*window_, control::kFormat, 2));
  ASSERT_TRUE(host_->userPress(*window_, control::kExportImage));
  const std::string path = (folder_ / "scene_0007.png").string();
  EXPECT_EQ(progressText(), "Frame 7 saved (64x36): " + path);
  EXPECT_TRUE(bar().progressShown);
  EXPECT_TRUE(fs::exists(path));
  // Without a camera it fails with the message marked as an error once.
  document_->activeCameraName = "nobody";
  ASSERT_TRUE(host_->userPress(*window_, control::kExportImage));
  EXPECT_EQ(progressText(), "ERROR: No camera found");
  EXPECT_FALSE(bar().progressShown);
  // An invalid resolution is refused before anything is rendered.
  document_->activeCameraName = "Camera";
  document_->render.width = 0;
  ASSERT_TRUE(host_->userPress(*window_, control::kExportImage));
  EXPECT_EQ(progressText(), "ERROR: invalid resolution in the render settings");
  // A cancelled folder chooser does nothing at all.
  host_->setFolderChoice(std::nullopt);
  document_->render.width = 64;
  ASSERT_TRUE(host_->userPress(*window_, control::kExportImage));
  EXPECT_EQ(progressText(), "ERROR: invalid resolution in the render settings");
  EXPECT_EQ(host_->folderChooserTitles().back(), "Choose export folder");
}

// Frames whose time a floating-point product puts just below them (29/25 s x 25 fps gives
// 28.999999999999996): the current image is named after its own frame, and a manual range
// keeps its last frame.
TEST_F(Export, FramesKeepTheirNumbersAtEveryRate) {
  const struct {
    int32_t fps, frame;
  } cases[] = {{25, 29}, {25, 116}, {30, 123}, {30, 246}, {60, 245}, {24, 245}};
  auto name = [](int32_t frame) {
    const std::string digits = std::to_string(frame);
    return "scene_" + std::string(4 - digits.size(), '0') + digits + ".exr";
  };
  for (const auto &c : cases) {
    document_->fps = c.fps;
    host_->setFrame(*document_, c.frame);
    ASSERT_TRUE(host_->userPress(*window_, control::kExportImage));
    EXPECT_EQ(files(), std::vector<std::string>{name(c.frame)}) << c.fps << " fps";
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    range(c.frame - 1, c.frame);
    exportSequence(400);
    EXPECT_EQ(files(), (std::vector<std::string>{name(c.frame - 1), name(c.frame)}))
        << c.fps << " fps";
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
}

// A document without a frame rate has no sequence to export: the job does not start and says
// why; the preview and a single image still work (everything is frame 0).
TEST_F(Export, ADocumentWithoutAFrameRateExportsNoSequence) {
  document_->fps = 0;
  host_->setFrame(*document_, 12);
  range(0, 5);
  ASSERT_TRUE(host_->userPress(*window_, control::kExportSequence));
  EXPECT_FALSE(running());
  EXPECT_EQ(progressText(), "ERROR: the document has no frame rate (0 fps): a sequence needs one");
  EXPECT_FALSE(bar().progressShown);
  EXPECT_TRUE(host_->messageBoxes().empty());
  EXPECT_TRUE(files().empty());
  ASSERT_TRUE(host_->userSetBool(*window_, control::kMotionBlur, true));
  tick();
  EXPECT_TRUE(status().starts_with("Particles: ")) << status();
  EXPECT_EQ(status().find("nan"), std::string::npos) << status();
  EXPECT_EQ(status().find("inf"), std::string::npos) << status();
  ASSERT_TRUE(host_->userPress(*window_, control::kExportImage));
  EXPECT_EQ(files(), std::vector<std::string>{"scene_0000.exr"});
}

// The copy is simulated from the start of the timeline, so an exported frame shows what the
// preview shows of that frame after playing the timeline from the start.
TEST_F(Export, ExportedFrameEqualsThePreviewAfterPlaying) {
  document_->render.width = 320;
  document_->render.height = 180;
  host_->setUserAreaSize(*window_, control::kPreviewArea, 320, 180);
  host_->setFrame(*document_, 40); // the user left the time slider at frame 40
  range(25, 25);
  ASSERT_TRUE(host_->userPress(*window_, control::kExportSequence));
  host_->runTicks(1); // pre-roll from 0 to 25 and the image, shown in the preview area
  ASSERT_EQ(files(), (std::vector<std::string>{"scene_0025.exr"}));
  const std::vector<standin::Rgb> exported =
      host_->userAreaImage(*window_, control::kPreviewArea)->pixels();
  host_->setFrame(*document_, 25);
  host_->runTicks(1);
  const std::vector<standin::Rgb> previewed =
      host_->userAreaImage(*window_, control::kPreviewArea)->pixels();
  EXPECT_TRUE(exported == previewed);
  EXPECT_GT(std::count_if(previewed.begin(), previewed.end(),
                          [](const standin::Rgb &p) { return p.red != 0; }),
            20);
}

TEST_F(Export, VolumetricExportReadsTheLightsOfTheCopy) {
  standin::LightSetup light;
  light.position = {0.0, 300.0, -300.0};
  light.intensity = 3.0;
  document_->addObject(standin::makeLight(light));
  host_->sceneChanged(*document_);
  ASSERT_TRUE(host_->userChoose(*window_, control::kMode, 1));
  ASSERT_TRUE(host_->userChoose(*window_, control::kFormat, 2));
  range(20, 21);
  ASSERT_TRUE(host_->userPress(*window_, control::kExportSequence));
  host_->runTicks(1);
  // The light of the original goes off; the job's copy keeps its own.
  document_->objects.back()->switchedOff = true;
  host_->sceneChanged(*document_);
  host_->runTicks(1);
  for (int32_t i = 0; i < 50 && running(); ++i) {
    host_->runTicks(1);
  }
  const std::vector<standin::Rgb> last =
      host_->userAreaImage(*window_, control::kPreviewArea)->pixels();
  EXPECT_EQ(files(), (std::vector<std::string>{"scene_0020.png", "scene_0021.png"}));
  EXPECT_GT(
      std::count_if(last.begin(), last.end(), [](const standin::Rgb &p) { return p.red != 0; }), 5);
}

#if defined(__linux__)
// A folder that fills up during the sequence: the image that no longer fits fails, the job stops
// with an error, and no frame's name holds a truncated file (the writers replace a file only once
// it is complete). Needs the right to mount a small memory file system; skipped without it.
TEST_F(Export, AFolderThatFillsUpLeavesNoTruncatedImage) {
  if (::mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=96k") != 0) {
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  }
  struct Unmount {
    fs::path path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{folder_};
  document_->render.width = 256;
  document_->render.height = 144;
  ASSERT_TRUE(host_->userChoose(*window_, control::kFormat, 1)); // 16-bit PNG: large files
  range(0, 40);
  exportSequence();
  EXPECT_TRUE(progressText().starts_with("Export stopped with an error: ")) << progressText();
  const std::vector<std::string> written = files();
  ASSERT_FALSE(written.empty());
  static const uint8_t kEnd[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  for (const std::string &name : written) {
    EXPECT_TRUE(name.starts_with("scene_") && name.ends_with(".png")) << "left over: " << name;
    std::ifstream in(folder_ / name, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    ASSERT_GE(bytes.size(), sizeof kEnd) << name;
    EXPECT_TRUE(std::equal(std::end(kEnd) - sizeof kEnd, std::end(kEnd), bytes.end() - sizeof kEnd))
        << name << " is cut short";
  }
  EXPECT_LT(written.size(), 41u);
}
#endif

TEST(ExportNaming, DurationsRoundToWholeSeconds) {
  using ek::plugin::formatDuration;
  EXPECT_EQ(formatDuration(75.0), "1:15");
  EXPECT_EQ(formatDuration(59.6), "1:00");
  EXPECT_EQ(formatDuration(3599.4), "59:59");
  EXPECT_EQ(formatDuration(3600.0), "1:00:00");
  EXPECT_EQ(formatDuration(3725.0), "1:02:05");
  EXPECT_EQ(formatDuration(-3.0), "0:00");
  EXPECT_EQ(formatDuration(std::nan("")), "0:00");
}

} // namespace
} // namespace flarion_test
