// The plug-in's host layer over the stand-in host: values, texts, documents, objects, particles
// and the host's services, as the plug-in's later parts rely on them.
#include <cmath>
#include <filesystem>
#include <limits>

#include "connected_host.h"
#include "host/bitmap.h"
#include "host/document.h"
#include "host/files.h"
#include "host/host_ids.h"
#include "host/messages.h"
#include "host/object.h"
#include "host/particle_system.h"
#include "host/state.h"
#include "host/text.h"
#include "plugin_fixture.h"
#include "scene/builders.h"

namespace flarion_test {
namespace {

namespace host = ek::host;

using HostLayer = ConnectedHost;

TEST_F(HostLayer, TextsFillPlaceholdersAndFormatReals) {
  EXPECT_EQ(host::substitute("Image @ of @ (frame @)", {"3", "10", "42"}),
            "Image 3 of 10 (frame 42)");
  EXPECT_EQ(host::substitute("@ and @", {"one"}), "one and @");
  EXPECT_EQ(host::substitute("@", {"a", "b"}), "a");
  EXPECT_EQ(host::formatReal(0.4849, 2), "0.48");
  EXPECT_EQ(host::formatReal(3.25, 1), "3.2");
  EXPECT_EQ(host::formatReal(120000.0, 0), "120000");
}

TEST_F(HostLayer, LongTextsArriveWhole) {
  const std::string folder = "/" + std::string(600, 'f');
  const char separator = char(std::filesystem::path::preferred_separator); // the host's own
  EXPECT_EQ(host::joinPath(folder, "libemberkit.so"), folder + separator + "libemberkit.so");
  EXPECT_FALSE(host::pluginFolder().has_value()); // no module was loaded by this host
  EXPECT_FALSE(host::chooseFolder("Choose export folder").has_value());
  host_.setFolderChoice(folder);
  EXPECT_EQ(host::chooseFolder("Exportordner wählen"), folder);
  EXPECT_EQ(host_.folderChooserTitles(),
            (std::vector<std::string>{"Choose export folder", "Exportordner wählen"}));
}

TEST_F(HostLayer, TimesConvertToFramesRoundingDown) {
  EXPECT_EQ((host::TimeValue{7, 30}).frame(30), 7);
  EXPECT_EQ((host::TimeValue{1, 60}).frame(30), 0);
  EXPECT_EQ((host::TimeValue{-1, 60}).frame(30), -1);
  EXPECT_EQ((host::TimeValue{5, 0}).seconds(), 0.0);
  EXPECT_EQ(host::TimeValue::fromFrame(-12, 25).frame(25), -12);
}

// Every frame of the rates in use, as the time the host keeps for it, a tick before it and a
// tick after it, comes out as that frame, the one before and that frame: exactly, where a
// floating-point product (29/25 s x 25 = 28.999999999999996) gives the frame before.
TEST(TimeFrames, EveryFrameOfTheCommonRatesRoundsDownExactly) {
  for (const int32_t fps : {24, 25, 30, 60}) {
    for (int32_t frame = -3000; frame <= 3000; ++frame) {
      ASSERT_EQ(host::TimeValue::fromFrame(frame, fps).frame(fps), frame) << frame << " @ " << fps;
      // The same time in ticks of 1/1000 frame, and one tick to either side.
      const int64_t ticks = int64_t(frame) * 1000;
      const int64_t perSecond = int64_t(fps) * 1000;
      ASSERT_EQ((host::TimeValue{ticks, perSecond}).frame(fps), frame) << frame << " @ " << fps;
      ASSERT_EQ((host::TimeValue{ticks - 1, perSecond}).frame(fps), frame - 1)
          << frame << " @ " << fps;
      ASSERT_EQ((host::TimeValue{ticks + 1, perSecond}).frame(fps), frame) << frame << " @ " << fps;
      // Seconds as a negative fraction over a negative denominator.
      ASSERT_EQ((host::TimeValue{-int64_t(frame), -int64_t(fps)}).frame(fps), frame);
    }
  }
  // A time at one rate counted at another: 1.16 s at 25 and 30 fps.
  EXPECT_EQ((host::TimeValue{29, 25}).frame(30), 34);
  EXPECT_EQ((host::TimeValue{-29, 25}).frame(30), -35);
}

TEST(TimeFrames, ExtremeTimesStayWithinTheFrameNumbers) {
  constexpr int64_t kMost = std::numeric_limits<int64_t>::max();
  constexpr int64_t kLeast = std::numeric_limits<int64_t>::min();
  EXPECT_EQ((host::TimeValue{kMost, 1}).frame(30), INT32_MAX);
  EXPECT_EQ((host::TimeValue{kLeast, 1}).frame(30), INT32_MIN);
  EXPECT_EQ((host::TimeValue{kLeast, -1}).frame(30), INT32_MAX);
  // The largest denominators: a remainder near 2^63 times the rate must not overflow.
  EXPECT_EQ((host::TimeValue{kMost - 1, kMost}).frame(INT32_MAX), INT32_MAX - 1);
  EXPECT_EQ((host::TimeValue{kLeast + 1, kLeast}).frame(1000), 999);
  EXPECT_EQ((host::TimeValue{-1, kLeast}).frame(60), 0);
  EXPECT_EQ((host::TimeValue{1, kLeast}).frame(60), -1);
  // The last frames of the 32-bit range, reached exactly.
  EXPECT_EQ((host::TimeValue{int64_t(INT32_MAX) * 7, 7 * 30}).frame(30), INT32_MAX);
  EXPECT_EQ((host::TimeValue{int64_t(INT32_MAX) + 1, 1}).frame(1), INT32_MAX);
  EXPECT_EQ((host::TimeValue{int64_t(INT32_MIN) - 1, 1}).frame(1), INT32_MIN);
  // No rate or no denominator: frame 0.
  EXPECT_EQ((host::TimeValue{29, 25}).frame(0), 0);
  EXPECT_EQ((host::TimeValue{29, 0}).frame(25), 0);
}

class HostLayerScene : public ConnectedHost {
protected:
  void SetUp() override {
    ConnectedHost::SetUp();
    auto scene = makeScene();
    scene->render.width = 1920;
    scene->render.height = 1080;
    standin::LightSetup light;
    light.name = "Key";
    light.intensity = 2.0;
    light.switchedOn = false;
    scene->addObject(standin::makeLight(light));
    scene->objects.back()->parameters[host::light::kIntensity] = int64_t(3);
    scene->objects.back()->parameters[host::light::kFalloff] = -2.7;
    document_ = &host_.addDocument(std::move(scene));
    host_.setFrame(*document_, 9);
  }
  standin::Document *document_ = nullptr;
};

TEST_F(HostLayerScene, DocumentGivesTimeRenderSettingsAndItsViewCamera) {
  auto document = host::Document::active();
  ASSERT_TRUE(document.has_value());
  EXPECT_EQ(document->fps(), 30);
  EXPECT_EQ(document->time().frame(30), 9);
  EXPECT_EQ(document->text(host::document::kFileName), "test.scn");
  EXPECT_EQ(document->parameter(host::document::kMaxTime).time()->frame(30), 90);
  auto render = document->renderSettings();
  ASSERT_TRUE(render.has_value());
  EXPECT_EQ(render->parameter(host::render_data::kWidth).integer(), 1920);
  EXPECT_FALSE(render->parameter(4242).present());
  auto object = document->activeViewCamera();
  ASSERT_TRUE(object.has_value());
  auto camera = host::Camera::from(*object);
  ASSERT_TRUE(camera.has_value());
  EXPECT_EQ(camera->focalLength(), 36.0);
  EXPECT_EQ(camera->dataReal(host::camera::kFNumber), 4.0);
  EXPECT_FALSE(host::Light::from(*object).has_value());
  // The camera looks from (0, 100, -500) at the origin.
  const host::Matrix m = camera->globalMatrix();
  EXPECT_EQ(m.offset, (host::Vector{0.0, 100.0, -500.0}));
  EXPECT_NEAR(m.axisZ[1], -100.0 / std::sqrt(100.0 * 100.0 + 500.0 * 500.0), 1e-12);
  document_->activeCameraName.clear();
  EXPECT_FALSE(document->activeViewCamera().has_value());
}

TEST_F(HostLayerScene, ObjectsWalkAndConvertTheirParameters) {
  auto first = host::Document::active()->firstObject();
  ASSERT_TRUE(first.has_value());
  auto next = first->next();
  ASSERT_TRUE(next.has_value());
  EXPECT_FALSE(next->next().has_value());
  EXPECT_FALSE(next->firstChild().has_value());
  auto light = host::Light::from(*next);
  ASSERT_TRUE(light.has_value());
  EXPECT_TRUE(light->switchedOff());
  const host::Value intensity = light->parameter(host::light::kIntensity);
  EXPECT_TRUE(intensity.isInteger());
  EXPECT_EQ(intensity.asReal(), 3.0);
  EXPECT_FALSE(intensity.real().has_value());
  EXPECT_EQ(light->parameter(host::light::kFalloff).asInteger(), -2);
  EXPECT_EQ(light->parameter(host::light::kColor).vector(), (host::Vector{1.0, 1.0, 1.0}));
  EXPECT_FALSE(light->parameter(4242).present());
}

TEST_F(HostLayerScene, ClonesAreFreedWithTheirOwners) {
  auto document = host::Document::active();
  {
    auto copy = document->clone();
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(host_.documentCount(), 2u);
    EXPECT_EQ(copy->document().time().frame(30), 9);
    auto camera = document->firstObject()->clone();
    ASSERT_TRUE(camera.has_value());
    host::Matrix moved = camera->object().globalMatrix();
    moved.offset = {1.0, 2.0, 3.0};
    camera->object().setGlobalMatrix(moved);
    EXPECT_EQ(camera->object().globalMatrix().offset, (host::Vector{1.0, 2.0, 3.0}));
    EXPECT_EQ(document->firstObject()->globalMatrix().offset[2], -500.0);
  }
  EXPECT_EQ(host_.documentCount(), 1u);
}

TEST_F(HostLayerScene, ParticleSystemOfADocument) {
  ASSERT_TRUE(host::ParticleSystem::loadLibrary());
  auto document = host::Document::active();
  auto particles = host::ParticleSystem::of(*document);
  ASSERT_TRUE(particles.has_value());
  ASSERT_EQ(particles->count(), 100);
  EXPECT_TRUE(particles->alive(0));
  host::Vector v{}, p{};
  std::array<float, 3> rgb{};
  ASSERT_TRUE(particles->velocity(0, v) && particles->position(0, p) && particles->color(0, rgb));
  EXPECT_EQ(v[1], 100.0);
  EXPECT_EQ(rgb, (std::array<float, 3>{1.0f, 1.0f, 1.0f}));
  EXPECT_GT(p[1], 0.0);
  // A scene hook of another type, or none, is no particle system.
  document_->particleHook.type = 5;
  EXPECT_FALSE(host::ParticleSystem::of(*document).has_value());
  document_->particleHook.type = host::library::kThinkingParticles;
  document_->hasParticleHook = false;
  EXPECT_FALSE(host::ParticleSystem::of(*document).has_value());
}

TEST_F(HostLayerScene, DocumentChangeCounterMovesWithTheSimulation) {
  auto document = host::Document::active();
  const uint32_t before = document->changeCount(host::document::kDirtyFlagsScene);
  document->setTime(host::TimeValue::fromFrame(12, 30));
  ASSERT_TRUE(document->executePasses(true, true, true));
  EXPECT_GT(document->changeCount(host::document::kDirtyFlagsScene), before);
  EXPECT_EQ(document_->particles.simulatedFrame(), 12);
}

TEST_F(HostLayer, BitmapsMessagesAndState) {
  {
    host::Bitmap bitmap;
    ASSERT_TRUE(bitmap.init(3, 2));
    const uint8_t rgba[] = {10, 20, 30, 255, 40, 50, 60, 255, 70, 80, 90, 255};
    EXPECT_TRUE(bitmap.setRow(1, 3, rgba, 4));
    EXPECT_EQ(bitmap.width(), 3);
    EXPECT_FALSE(bitmap.init(0, 2));
  }
  EXPECT_EQ(host::messageBox("Flarion Export finished", host::message_box::kOkExclamation), 1);
  EXPECT_EQ(host_.messageBoxes(), (std::vector<std::string>{"[48] Flarion Export finished"}));
  host::setStatusBarPercent(40);
  host::clearStatusBar();
  ASSERT_EQ(host_.statusBar().size(), 2u);
  EXPECT_EQ(host_.statusBar()[0].percent, 40);
  EXPECT_TRUE(host_.statusBar()[1].cleared);
  EXPECT_TRUE(host::isMainThread());
  host_.setMainThreadAnswer(false);
  EXPECT_FALSE(host::isMainThread());
  host_.setBusy(host::state::kBusyEditorRendering, true);
  EXPECT_TRUE(host::isBusy(host::state::kBusyEditorRendering));
  EXPECT_FALSE(host::isBusy(host::state::kBusyViewDrawing));
  host_.advance(12.5);
  EXPECT_EQ(host::milliseconds(), 12.5);
}

} // namespace
} // namespace flarion_test
