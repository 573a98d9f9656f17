// Reading DialogSettings from the dialog's controls, with the plug-in's layout and settings code
// running against the stand-in host's operation table.
#include <gtest/gtest.h>

#include "connected_host.h"
#include "ekpreview/dialog_layout.h"
#include "ekpreview/plugin_ids.h"
#include "ekpreview/settings_io.h"
#include "host/dialog.h"

namespace flarion_test {
namespace {

namespace control = ek::plugin::control;
using ek::plugin::DialogSettings;

constexpr int32_t kTestDialogId = 4711;

// The plug-in's layout; the defaults are set only when asked, so that unset controls stay
// unreadable.
class LayoutOnly : public ek::host::DialogHandler {
public:
  explicit LayoutOnly(bool setDefaults) : setDefaults_(setDefaults) {}
  void attach(ek::host::Dialog &dialog) { dialog_ = &dialog; }
  bool createLayout() override {
    ek::plugin::buildLayout(*dialog_, ek::plugin::Language::English);
    return true;
  }
  bool initValues() override {
    if (setDefaults_) {
      ek::plugin::setDefaults(*dialog_);
    }
    return true;
  }
  bool command(int32_t) override { return true; }
  void timer() override {}
  void closed() override {}

private:
  bool setDefaults_;
  ek::host::Dialog *dialog_ = nullptr;
};

class ReadSettings : public ConnectedHost {
protected:
  void TearDown() override {
    dialog_.reset();
    ConnectedHost::TearDown();
  }
  standin::DialogWindow &open(bool setDefaults) {
    handler_ = std::make_unique<LayoutOnly>(setDefaults);
    dialog_ = std::make_unique<ek::host::Dialog>(*handler_);
    handler_->attach(*dialog_);
    EXPECT_TRUE(dialog_->open(kTestDialogId, 800, 600));
    return *host_.dialog(kTestDialogId);
  }

  std::unique_ptr<LayoutOnly> handler_;
  std::unique_ptr<ek::host::Dialog> dialog_;
};

TEST_F(ReadSettings, EveryFieldComesFromItsOwnControl) {
  standin::DialogWindow &window = open(true);
  const std::pair<int32_t, double> numbers[] = {
      {control::kBrightness, 3.5}, {control::kExposure, 4.5}, {control::kRadius, 5.5},
      {control::kRepopulation, 6}, {control::kFocus, 7.5},    {control::kAperture, 8.5},
      {control::kShutter, 0.25},   {control::kSamples, 9},    {control::kDensity, 10.5},
      {control::kEmission, 11.5},  {control::kAmbient, 0.75}, {control::kScattering, -0.35}};
  for (auto [id, value] : numbers) {
    ASSERT_TRUE(host_.userSetNumber(window, id, value)) << "control " << id;
  }
  ASSERT_TRUE(host_.userSetBool(window, control::kDepthOfField, true));
  ASSERT_TRUE(host_.userSetBool(window, control::kMotionBlur, true));
  ASSERT_TRUE(host_.userChoose(window, control::kMode, 1));
  ASSERT_TRUE(host_.userChoose(window, control::kShadows, 2));

  const DialogSettings s = ek::plugin::readSettings(*dialog_);
  EXPECT_DOUBLE_EQ(s.brightness, 3.5);
  EXPECT_DOUBLE_EQ(s.exposure, 4.5);
  EXPECT_DOUBLE_EQ(s.radius, 5.5);
  EXPECT_EQ(s.repopulation, 6);
  EXPECT_DOUBLE_EQ(s.focus, 7.5);
  EXPECT_DOUBLE_EQ(s.aperture, 8.5);
  EXPECT_DOUBLE_EQ(s.shutter, 0.25);
  EXPECT_EQ(s.samples, 9);
  EXPECT_DOUBLE_EQ(s.density, 10.5);
  EXPECT_DOUBLE_EQ(s.emission, 11.5);
  EXPECT_DOUBLE_EQ(s.ambient, 0.75);
  EXPECT_DOUBLE_EQ(s.scattering, -0.35);
  EXPECT_TRUE(s.depthOfField);
  EXPECT_TRUE(s.motionBlur);
  EXPECT_EQ(s.mode, 1);
  EXPECT_EQ(s.shadows, 2);
}

TEST_F(ReadSettings, LiveAndFormatKeepTheirDefaults) {
  standin::DialogWindow &window = open(true);
  ASSERT_TRUE(host_.userSetBool(window, control::kLive, false));
  ASSERT_TRUE(host_.userChoose(window, control::kFormat, 2));
  const DialogSettings s = ek::plugin::readSettings(*dialog_);
  EXPECT_TRUE(s.live);
  EXPECT_EQ(s.format, 0);
}

TEST_F(ReadSettings, ControlsWithoutAValueKeepTheDefault) {
  open(false);
  dialog_->setReal(control::kExposure, 9.0, 0.01, 50.0, 0.05);
  const DialogSettings s = ek::plugin::readSettings(*dialog_);
  const DialogSettings defaults;
  EXPECT_DOUBLE_EQ(s.exposure, 9.0);
  EXPECT_DOUBLE_EQ(s.brightness, defaults.brightness);
  EXPECT_DOUBLE_EQ(s.aperture, defaults.aperture);
  EXPECT_EQ(s.samples, defaults.samples);
  EXPECT_EQ(s.shadows, defaults.shadows);
  EXPECT_DOUBLE_EQ(s.focus, 500.0);
}

} // namespace
} // namespace flarion_test
