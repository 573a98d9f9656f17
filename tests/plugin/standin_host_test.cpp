// The stand-in host's operation table, called as a plug-in would: handles, misuse recording,
// timers, drawing and scene access.
#include <thread>

#include <gtest/gtest.h>

#include "host.h"
#include "host/host_ids.h"
#include "plugin_fixture.h"
#include "raw_dialog.h"
#include "scene/builders.h"

namespace flarion_test {
namespace {

// The table's behaviour on a clock that moves only when told to, so that times are exact.
class StandInHost : public RawDialogHost {
protected:
  StandInHost() : RawDialogHost(exactClock()) {}
};

TEST_F(StandInHost, TableStartsWithItsSizeVersionAndApiLevel) {
  EXPECT_EQ(api_->size, sizeof(HostApi));
  EXPECT_EQ(api_->version, uint32_t(HOST_API_VERSION));
  EXPECT_EQ(api_->apiLevel, standin::kStandInApiLevel);
  EXPECT_GE(api_->apiLevel, 2026300);
}

TEST_F(StandInHost, TimersFireOnlyAsTheClockAdvances) {
  open();
  EXPECT_EQ(raw_.ticks, 0);
  host_.advance(24.0);
  EXPECT_EQ(raw_.ticks, 0);
  host_.advance(1.0);
  EXPECT_EQ(raw_.ticks, 1);
  raw_.nextInterval = 5; // from the next tick on every 5 ms
  host_.advance(50.0);
  EXPECT_EQ(raw_.tickTimes, (std::vector<double>{25, 50, 55, 60, 65, 70, 75}));
  host_.closeDialog(*host_.dialog(kRawDialogId));
  host_.advance(100.0);
  EXPECT_EQ(raw_.ticks, 7);
  EXPECT_TRUE(host_.misuses().empty());
}

TEST_F(StandInHost, UserInputIsClampedAndReportedAsACommand) {
  standin::DialogWindow &window = open();
  EXPECT_TRUE(host_.userSetNumber(window, kRawNumber, 42.7));
  int32_t value = 0;
  ASSERT_EQ(api_->getInt(api_->instance, raw_.dialog, kRawNumber, &value), 1);
  EXPECT_EQ(value, 10);
  EXPECT_TRUE(host_.userSetNumber(window, kRawNumber, 3.4));
  api_->getInt(api_->instance, raw_.dialog, kRawNumber, &value);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(raw_.commands, (std::vector<int32_t>{kRawNumber, kRawNumber}));
  api_->enable(api_->instance, raw_.dialog, kRawNumber, 0);
  EXPECT_FALSE(host_.userSetNumber(window, kRawNumber, 4.0));
  EXPECT_FALSE(host_.userSetBool(window, kRawNumber, true));
  EXPECT_EQ(raw_.commands.size(), 2u);
}

TEST_F(StandInHost, UserAreasAreDrawnIntoTheHostsImage) {
  standin::DialogWindow &window = open();
  const standin::RgbImage *image = host_.userAreaImage(window, kRawArea);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->width(), 40);
  EXPECT_EQ(image->height(), 20);
  EXPECT_EQ(image->at(39, 19), (standin::Rgb{200, 10, 30}));
  ASSERT_TRUE(host_.setUserAreaSize(window, kRawArea, 7, 3));
  EXPECT_EQ(api_->userAreaWidth(api_->instance, raw_.area), 7);
  EXPECT_EQ(host_.userAreaImage(window, kRawArea)->height(), 3);
  EXPECT_EQ(window.userAreas.at(kRawArea)->reportedMinWidth, 10);
  // Drawing outside the draw callback is misuse.
  api_->userAreaFill(api_->instance, raw_.area, 0, 0, 1, 1, 0, 0, 0);
  EXPECT_TRUE(misused("userAreaFill"));
}

TEST_F(StandInHost, UnknownControlIDsAreMisuse) {
  open();
  EXPECT_EQ(api_->setBool(api_->instance, raw_.dialog, 4242, 1), 0);
  EXPECT_TRUE(misused("setBool"));
  double value = 0.0;
  EXPECT_EQ(api_->getReal(api_->instance, raw_.dialog, kRawArea, &value), 0); // not a number field
  EXPECT_TRUE(misused("getReal"));
}

TEST_F(StandInHost, CallsFromAnotherThreadAreMisuse) {
  std::thread([&] { api_->milliseconds(api_->instance); }).join();
  EXPECT_TRUE(misused("milliseconds"));
}

TEST_F(StandInHost, BitmapsRefuseRowsBeyondTheirSize) {
  HostBitmap *bitmap = api_->bitmapCreate(api_->instance);
  ASSERT_EQ(api_->bitmapInit(api_->instance, bitmap, 4, 2, 24), 1);
  const uint8_t pixels[5 * 4] = {1, 2, 3, 0, 4, 5, 6, 0};
  EXPECT_EQ(api_->bitmapSetRow(api_->instance, bitmap, 1, 2, pixels, 4), 1);
  EXPECT_TRUE(host_.misuses().empty());
  EXPECT_EQ(api_->bitmapSetRow(api_->instance, bitmap, 2, 4, pixels, 4), 0);
  EXPECT_EQ(api_->bitmapSetRow(api_->instance, bitmap, 0, 5, pixels, 4), 0);
  EXPECT_EQ(host_.misuses().size(), 2u);
  api_->bitmapFree(api_->instance, bitmap);
  EXPECT_EQ(api_->bitmapWidth(api_->instance, bitmap), 0);
  EXPECT_TRUE(misused("bitmapWidth"));
}

TEST_F(StandInHost, FreedDocumentsAndTheirObjectsAreMisuse) {
  standin::Document &original = host_.addDocument(makeScene());
  HostDocument *active = api_->activeDocument(api_->instance);
  ASSERT_NE(active, nullptr);
  HostDocument *copy = api_->documentClone(api_->instance, active, 1024);
  ASSERT_NE(copy, nullptr);
  HostObject *camera = api_->documentFirstObject(api_->instance, copy);
  ASSERT_NE(camera, nullptr);
  EXPECT_NE(camera, api_->documentFirstObject(api_->instance, active));
  EXPECT_EQ(api_->objectType(api_->instance, camera), ek::host::object::kTypeCamera);
  api_->documentFree(api_->instance, copy);
  EXPECT_TRUE(host_.misuses().empty());
  EXPECT_EQ(api_->documentFps(api_->instance, copy), 0);
  EXPECT_TRUE(misused("documentFps"));
  EXPECT_EQ(api_->objectType(api_->instance, camera), 0);
  EXPECT_TRUE(misused("objectType"));
  // A document of the host's own is not the plug-in's to free.
  api_->documentFree(api_->instance, active);
  EXPECT_TRUE(misused("documentFree"));
  EXPECT_EQ(host_.activeDocument(), &original);
}

TEST_F(StandInHost, DocumentsAnswerTimeRenderSettingsAndParticles) {
  standin::Document &d = host_.addDocument(makeScene());
  d.render.width = 1920;
  HostDocument *doc = api_->activeDocument(api_->instance);
  HostValue value{};
  HostRenderData *render = api_->documentRenderData(api_->instance, doc);
  ASSERT_EQ(
      api_->renderDataGetParameter(api_->instance, render, ek::host::render_data::kWidth, &value),
      1);
  EXPECT_EQ(value.kind, HOST_VALUE_INT);
  EXPECT_EQ(value.integer, 1920);
  host_.setFrame(d, 9);
  ASSERT_EQ(api_->documentGetParameter(api_->instance, doc, ek::host::document::kTime, &value), 1);
  EXPECT_EQ(value.kind, HOST_VALUE_TIME);
  EXPECT_EQ(value.timeNumerator * 30, 9 * value.timeDenominator);
  HostObject *master =
      api_->documentFindSceneHook(api_->instance, doc, ek::host::library::kThinkingParticles);
  ASSERT_NE(master, nullptr);
  EXPECT_EQ(api_->objectType(api_->instance, master), ek::host::library::kThinkingParticles);
  // Particle access needs the particle library first.
  EXPECT_EQ(api_->particleCount(api_->instance, master), 0);
  EXPECT_TRUE(misused("particleCount"));
  ASSERT_EQ(api_->particleLibraryLoad(api_->instance, ek::host::library::kThinkingParticles, 0), 1);
  EXPECT_EQ(api_->particleCount(api_->instance, master), 100); // 10 frames of 10 births
  double position[3] = {};
  // Slots a broken host reports beyond its particles fail without misuse; beyond those, misuse.
  d.extraReportedParticles = 1;
  EXPECT_EQ(api_->particlePosition(api_->instance, master, 100, position), 0);
  EXPECT_FALSE(misused("particlePosition"));
  EXPECT_EQ(api_->particlePosition(api_->instance, master, 101, position), 0);
  EXPECT_TRUE(misused("particlePosition"));
}

TEST_F(StandInHost, ViewCameraAndObjectTreeWalk) {
  auto scene = makeScene();
  auto group = std::make_unique<standin::SceneObject>(standin::kTypeNull, "Group");
  standin::LightSetup light;
  light.switchedOn = false;
  group->addChild(standin::makeLight(light));
  scene->addObject(std::move(group));
  host_.addDocument(std::move(scene));
  HostDocument *doc = api_->activeDocument(api_->instance);
  HostView *view = api_->documentActiveView(api_->instance, doc);
  HostObject *camera = api_->viewSceneCamera(api_->instance, view, doc);
  EXPECT_EQ(camera, api_->documentFirstObject(api_->instance, doc));
  HostObject *next = api_->objectNext(api_->instance, camera);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(api_->objectNext(api_->instance, next), nullptr);
  HostObject *child = api_->objectDown(api_->instance, next);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(api_->objectType(api_->instance, child), ek::host::object::kTypeLight);
  EXPECT_EQ(api_->objectGetMode(api_->instance, child, ek::host::object::kModeSelectorOnOff),
            ek::host::object::kModeOff);
  double focus = 0.0;
  EXPECT_EQ(
      api_->objectGetDataReal(api_->instance, camera, ek::host::camera::kFocusDistance, &focus), 1);
  EXPECT_EQ(focus, 720.0);
  HostObject *clone = api_->objectClone(api_->instance, child, 0);
  ASSERT_NE(clone, nullptr);
  api_->objectFree(api_->instance, clone);
  EXPECT_TRUE(host_.misuses().empty());
  api_->objectFree(api_->instance, child);
  EXPECT_TRUE(misused("objectFree"));
}

} // namespace
} // namespace flarion_test
