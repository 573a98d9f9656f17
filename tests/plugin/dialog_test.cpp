// The Flarion dialog through the stand-in host: layout, defaults, clamping and what each control
// and the timer trigger.
#include <climits>
#include <vector>

#include "host/host_ids.h"
#include "plugin_fixture.h"

namespace flarion_test {
namespace {

using standin::Control;
using standin::ControlKind;
using standin::ValueKind;

// One control of a row as the user sees it: its kind, ID (0 for plain labels) and text.
struct Expected {
  ControlKind kind;
  int32_t id;
  const char *text;
};

std::vector<Expected> rowOf(const Control &row) {
  std::vector<Expected> seen;
  for (const auto &child : row.children) {
    if (child->kind == ControlKind::Group) { // the progress bar sits in a group of its own
      for (const auto &inner : child->children) {
        seen.push_back({inner->kind, inner->id, inner->text.c_str()});
      }
    } else {
      seen.push_back({child->kind, child->id, child->text.c_str()});
    }
  }
  return seen;
}

void expectRow(const Control &row, int32_t columns, const std::vector<Expected> &expected) {
  EXPECT_EQ(row.columns, columns);
  const std::vector<Expected> seen = rowOf(row);
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE("control " + std::to_string(i) + " of the row");
    EXPECT_EQ(seen[i].kind, expected[i].kind);
    EXPECT_EQ(seen[i].id, expected[i].id);
    EXPECT_STREQ(seen[i].text, expected[i].text);
  }
}

class FlarionDialog : public PluginTest {
protected:
  // The plug-in without a renderer library, so that every preview update shows the binding error
  // on the status line and can be seen. The clock moves only as the tests advance it, so that
  // timer periods are exact however long the host takes to open the window.
  void SetUp() override {
    standin::HostOptions exactClock;
    exactClock.clockFollowsWork = false;
    start(Renderer::None, exactClock);
    openDialog();
  }
  bool updated() const { return status().starts_with("ERROR: DLL could not be loaded"); }
  void setLive(bool on) { ASSERT_TRUE(host_->userSetBool(*window_, control::kLive, on)); }
};

TEST_F(FlarionDialog, RowsHoldEveryControlWithItsLabel) {
  const Control &outer = *window_->root.children.at(0);
  EXPECT_EQ(outer.columns, 1);
  EXPECT_EQ(outer.border[0], 4);
  EXPECT_EQ(outer.border[3], 4);
  ASSERT_EQ(outer.children.size(), 7u);
  constexpr auto L = ControlKind::Label, N = ControlKind::Number, C = ControlKind::Checkbox,
                 B = ControlKind::Button, D = ControlKind::DropDown;
  expectRow(*outer.children[0], 10,
            {{C, 1001, "Live"},
             {L, 0, "Brightness"},
             {ControlKind::Slider, 1002, ""},
             {L, 0, "Exposure"},
             {ControlKind::Slider, 1003, ""},
             {L, 0, "Repopulation"},
             {N, 1004, ""},
             {L, 0, "Radius"},
             {N, 1005, ""}});
  expectRow(*outer.children[1], 13,
            {{C, 1006, "Depth of field"},
             {L, 0, "Focus"},
             {N, 1007, ""},
             {L, 0, "Aperture f/"},
             {N, 1008, ""},
             {B, 1009, "From camera"},
             {L, 0, ""},
             {C, 1010, "Motion blur"},
             {L, 0, "Shutter (frames)"},
             {N, 1011, ""},
             {L, 0, "Samples"},
             {N, 1012, ""},
             {L, 0, ""}});
  expectRow(*outer.children[2], 13,
            {{L, 0, "Mode"},
             {D, 1014, ""},
             {L, 0, "Density"},
             {N, 1015, ""},
             {L, 0, "Emission"},
             {N, 1016, ""},
             {L, 0, "Ambient"},
             {N, 1017, ""},
             {L, 0, "Scattering"},
             {N, 1018, ""},
             {L, 0, "Shadows"},
             {D, 1019, ""}});
  expectRow(*outer.children[3], 6,
            {{L, 0, "Format"},
             {D, 1013, ""},
             {B, 1020, "Export image"},
             {B, 1021, "Export sequence"},
             {L, 0, ""}});
  expectRow(*outer.children[4], 3,
            {{ControlKind::Custom, 1024, ""}, {L, 1025, ""}, {B, 1026, "Cancel export"}});
  EXPECT_EQ(outer.children[5]->kind, ControlKind::UserArea);
  EXPECT_EQ(outer.children[5]->id, 1000);
  EXPECT_EQ(outer.children[6]->id, 1022);
  EXPECT_EQ(control(control::kProgressBar).customType, ek::host::gui::kProgressBar);
}

TEST_F(FlarionDialog, SizesAndStretchingFollowTheLayout) {
  namespace layout = ek::host::layout;
  const Control &spacer = *window_->root.children[0]->children[1]->children[6];
  EXPECT_EQ(spacer.minWidth, 10);
  for (int32_t id : {control::kBrightness, control::kExposure}) {
    EXPECT_EQ(control(id).minWidth, 80);
    EXPECT_EQ(control(id).flags & layout::kFitHorizontal, layout::kFitHorizontal);
  }
  const std::pair<int32_t, int32_t> widths[] = {
      {control::kRepopulation, 70}, {control::kRadius, 70},     {control::kFocus, 80},
      {control::kAperture, 60},     {control::kShutter, 60},    {control::kSamples, 60},
      {control::kMode, 230},        {control::kDensity, 70},    {control::kEmission, 60},
      {control::kAmbient, 60},      {control::kScattering, 60}, {control::kShadows, 110},
      {control::kFormat, 220}};
  for (auto [id, width] : widths) {
    EXPECT_EQ(control(id).minWidth, width) << "control " << id;
  }
  EXPECT_EQ(control(control::kCancelExport).flags & layout::kFitHorizontal, layout::kAlignRight);
  const Control &preview = control(control::kPreviewArea);
  EXPECT_EQ(preview.flags & layout::kFit, layout::kFit);
  EXPECT_EQ(preview.minWidth, 640);
  EXPECT_EQ(preview.minHeight, 360);
  EXPECT_EQ(window_->userAreas.at(control::kPreviewArea)->reportedMinWidth, 320);
  EXPECT_EQ(window_->userAreas.at(control::kPreviewArea)->reportedMinHeight, 180);
}

TEST_F(FlarionDialog, DropDownsOfferTheirEntries) {
  using Entries = std::vector<std::pair<int32_t, std::string>>;
  EXPECT_EQ(control(control::kMode).entries,
            (Entries{{0, "Additive (glow)"}, {1, "Volumetric (light + shadows)"}}));
  EXPECT_EQ(control(control::kShadows).entries, (Entries{{0, "Low"}, {1, "Medium"}, {2, "High"}}));
  EXPECT_EQ(control(control::kFormat).entries, (Entries{{0, "EXR (linear, premultiplied)"},
                                                        {1, "PNG 16 bit (transparent)"},
                                                        {2, "PNG 8 bit (transparent)"}}));
}

struct RealDefault {
  int32_t id;
  double value, minimum, maximum, step;
};

struct IntDefault {
  int32_t id;
  int32_t value, minimum, maximum;
};

// Checks every setting control against its default and range.
void expectDefaults(const standin::DialogWindow &window) {
  const RealDefault reals[] = {
      {control::kBrightness, 1.0, 0.01, 50.0, 0.05}, {control::kExposure, 1.0, 0.01, 50.0, 0.05},
      {control::kRadius, 2.0, 0.0, 1e6, 0.5},        {control::kFocus, 500.0, 0.1, 1e7, 10.0},
      {control::kAperture, 2.8, 0.1, 128.0, 0.1},    {control::kShutter, 0.5, 0.0, 10.0, 0.05},
      {control::kDensity, 1.0, 0.0, 1000.0, 0.1},    {control::kEmission, 0.0, 0.0, 100.0, 0.05},
      {control::kAmbient, 0.0, 0.0, 10.0, 0.01},     {control::kScattering, 0.0, -0.9, 0.9, 0.05}};
  for (const RealDefault &d : reals) {
    const Control &c = *window.find(d.id);
    SCOPED_TRACE("control " + std::to_string(d.id));
    EXPECT_EQ(c.valueKind, ValueKind::Real);
    EXPECT_DOUBLE_EQ(c.realValue, d.value);
    EXPECT_DOUBLE_EQ(c.minimum, d.minimum);
    EXPECT_DOUBLE_EQ(c.maximum, d.maximum);
    EXPECT_DOUBLE_EQ(c.step, d.step);
    EXPECT_EQ(c.format, ek::host::fourCc("frea"));
  }
  const IntDefault ints[] = {{control::kRepopulation, 0, 0, 10000},
                             {control::kSamples, 4, 1, 256},
                             {control::kMode, 0, INT32_MIN, INT32_MAX},
                             {control::kShadows, 1, INT32_MIN, INT32_MAX},
                             {control::kFormat, 0, INT32_MIN, INT32_MAX}};
  for (const IntDefault &d : ints) {
    const Control &c = *window.find(d.id);
    SCOPED_TRACE("control " + std::to_string(d.id));
    EXPECT_EQ(c.valueKind, ValueKind::Int);
    EXPECT_EQ(c.intValue, d.value);
    EXPECT_EQ(c.minimum, double(d.minimum));
    EXPECT_EQ(c.maximum, double(d.maximum));
    EXPECT_EQ(c.step, 1.0);
  }
  EXPECT_TRUE(window.find(control::kLive)->boolValue);
  EXPECT_FALSE(window.find(control::kDepthOfField)->boolValue);
  EXPECT_FALSE(window.find(control::kMotionBlur)->boolValue);
  EXPECT_EQ(window.find(control::kStatus)->text, "Ready");
  EXPECT_EQ(window.find(control::kProgressText)->text, "");
  EXPECT_FALSE(window.find(control::kProgressBar)->progressShown);
  // Exports are possible and nothing can be cancelled while no export runs.
  EXPECT_TRUE(window.find(control::kExportImage)->enabled);
  EXPECT_TRUE(window.find(control::kExportSequence)->enabled);
  EXPECT_TRUE(window.find(control::kFormat)->enabled);
  EXPECT_FALSE(window.find(control::kCancelExport)->enabled);
  EXPECT_EQ(window.timerInterval, 40);
}

TEST_F(FlarionDialog, OpensWithEveryDefaultRangeAndEnableState) { expectDefaults(*window_); }

TEST_F(FlarionDialog, SecondOpeningShowsTheDefaultsAgain) {
  setLive(false);
  ASSERT_TRUE(host_->userSetNumber(*window_, control::kBrightness, 7.5));
  ASSERT_TRUE(host_->userSetNumber(*window_, control::kSamples, 64));
  ASSERT_TRUE(host_->userSetNumber(*window_, control::kScattering, -0.5));
  ASSERT_TRUE(host_->userSetBool(*window_, control::kMotionBlur, true));
  ASSERT_TRUE(host_->userChoose(*window_, control::kMode, 1));
  ASSERT_TRUE(host_->userChoose(*window_, control::kShadows, 2));
  ASSERT_TRUE(host_->userChoose(*window_, control::kFormat, 2));
  ASSERT_NE(status(), "Ready");
  reopenDialog();
  EXPECT_EQ(window_->timesOpened, 2);
  expectDefaults(*window_);
}

TEST_F(FlarionDialog, FieldsClampWhatTheUserEnters) {
  setLive(false);
  const std::tuple<int32_t, double, double> entries[] = {{control::kSamples, 0.0, 1.0},
                                                         {control::kSamples, 1000.0, 256.0},
                                                         {control::kScattering, 1.5, 0.9},
                                                         {control::kScattering, -3.0, -0.9},
                                                         {control::kRepopulation, 20000.0, 10000.0},
                                                         {control::kBrightness, 0.0, 0.01},
                                                         {control::kAperture, 500.0, 128.0},
                                                         {control::kFocus, 0.0, 0.1}};
  for (auto [id, entered, expected] : entries) {
    ASSERT_TRUE(host_->userSetNumber(*window_, id, entered));
    const Control &c = control(id);
    const double shown = c.valueKind == ValueKind::Int ? double(c.intValue) : c.realValue;
    EXPECT_DOUBLE_EQ(shown, expected) << "control " << id << " given " << entered;
  }
}

// Unticks "Live" in the control tree without a command message, so that no update follows.
void untickLiveQuietly(standin::DialogWindow &window) {
  window.find(control::kLive)->boolValue = false;
}

TEST_F(FlarionDialog, TimerUpdatesEvery40MillisecondsWhileLiveIsTicked) {
  host_->advance(39.0);
  EXPECT_FALSE(updated());
  host_->advance(1.0);
  EXPECT_TRUE(updated());
}

TEST_F(FlarionDialog, TimerLeavesThePreviewAloneWhileLiveIsOff) {
  untickLiveQuietly(*window_);
  tick(5);
  EXPECT_EQ(status(), "Ready");
}

TEST_F(FlarionDialog, ControlChangesUpdateThePreviewEvenWithLiveOff) {
  untickLiveQuietly(*window_);
  ASSERT_TRUE(host_->userSetNumber(*window_, control::kBrightness, 2.0));
  EXPECT_TRUE(updated());
}

TEST_F(FlarionDialog, ChangingFormatNeverUpdatesThePreview) {
  untickLiveQuietly(*window_);
  ASSERT_TRUE(host_->userChoose(*window_, control::kFormat, 1));
  ASSERT_TRUE(host_->userChoose(*window_, control::kFormat, 2));
  EXPECT_EQ(status(), "Ready");
  EXPECT_EQ(control(control::kFormat).intValue, 2);
}

TEST_F(FlarionDialog, CancelExportWithoutAnExportDoesNothing) {
  EXPECT_FALSE(host_->userPress(*window_, control::kCancelExport)); // disabled for the user
  // Even a command message for it, as a host might send, changes nothing visible.
  window_->callbacks.command(window_->callbacks.self, control::kCancelExport);
  EXPECT_EQ(control(control::kProgressText).text, "");
  EXPECT_EQ(status(), "Ready");
  EXPECT_FALSE(control(control::kCancelExport).enabled);
  EXPECT_TRUE(control(control::kExportImage).enabled);
}

TEST_F(FlarionDialog, ExportButtonsReportAnUnusableRenderer) {
  ASSERT_TRUE(host_->userPress(*window_, control::kExportImage));
  EXPECT_TRUE(updated());
  EXPECT_TRUE(host_->folderChooserTitles().empty());
}

class FromCamera : public PluginTest {};

TEST_F(FromCamera, CopiesFocusAndFNumberAndTicksDepthOfField) {
  start(Renderer::None);
  openDialog();
  ASSERT_TRUE(host_->userPress(*window_, control::kFromCamera));
  EXPECT_DOUBLE_EQ(control(control::kFocus).realValue, 720.0);
  EXPECT_DOUBLE_EQ(control(control::kAperture).realValue, 4.0);
  EXPECT_TRUE(control(control::kDepthOfField).boolValue);
}

TEST_F(FromCamera, KeepsFieldsTheCameraLeavesAtZero) {
  start(Renderer::None);
  standin::SceneObject *camera = document_->activeCamera();
  camera->parameters.erase(ek::host::camera::kFocusDistance);
  camera->parameters[ek::host::camera::kFNumber] = 0.0;
  openDialog();
  ASSERT_TRUE(host_->userPress(*window_, control::kFromCamera));
  EXPECT_DOUBLE_EQ(control(control::kFocus).realValue, 500.0);
  EXPECT_DOUBLE_EQ(control(control::kAperture).realValue, 2.8);
  EXPECT_TRUE(control(control::kDepthOfField).boolValue);
}

TEST_F(FromCamera, WithoutACameraSaysSo) {
  start(Renderer::Real);
  document_->activeCameraName.clear();
  openDialog();
  tick(); // binds the renderer, so that the button's own preview update adds no message
  ASSERT_TRUE(host_->userPress(*window_, control::kFromCamera));
  EXPECT_EQ(status(), "No camera found");
  EXPECT_FALSE(control(control::kDepthOfField).boolValue);
}

} // namespace
} // namespace flarion_test
