#include "ekpreview/dialog_layout.h"

#include "ekpreview/plugin_ids.h"
#include "ekpreview/texts.h"
#include "host/host_ids.h"

namespace ek::plugin {

namespace {

namespace layout = host::layout;

constexpr const char *kTitle = "Flarion";
constexpr int32_t kBorder = 4;
constexpr int32_t kColumnGap = 6;
constexpr int32_t kOneColumn = 1;
constexpr int32_t kAnyRows = 0;
constexpr int32_t kLookRowColumns = 10;
constexpr int32_t kLensRowColumns = 13;
constexpr int32_t kVolumeRowColumns = 13;
constexpr int32_t kOutputRowColumns = 6;
constexpr int32_t kProgressRowColumns = 3;
constexpr int32_t kNoMinimum = 0;
constexpr int32_t kSpacerWidth = 10;
constexpr int32_t kSliderWidth = 80;
constexpr int32_t kWideNumberWidth = 80;
constexpr int32_t kNumberWidth = 70;
constexpr int32_t kNarrowNumberWidth = 60;
constexpr int32_t kModeWidth = 230;
constexpr int32_t kShadowsWidth = 110;
constexpr int32_t kFormatWidth = 220;
constexpr int32_t kProgressBarWidth = 160;
constexpr int32_t kProgressBarHeight = 10;
constexpr int32_t kPreviewWidth = 640;
constexpr int32_t kPreviewHeight = 360;

// Labels that exist in one form only are the same in both columns.
constexpr Text kLive{"Live", "Live"};
constexpr Text kBrightness{"Brightness", "Helligkeit"};
constexpr Text kExposure{"Exposure", "Belichtung"};
constexpr Text kRepopulation{"Repopulation", "Repopulation"};
constexpr Text kRadius{"Radius", "Radius"};
constexpr Text kDepthOfField{"Depth of field", "Tiefenschärfe"};
constexpr Text kFocus{"Focus", "Fokus"};
constexpr Text kAperture{"Aperture f/", "Blende f/"};
constexpr Text kFromCamera{"From camera", "Von Kamera"};
constexpr Text kMotionBlur{"Motion blur", "Bewegungsunschärfe"};
constexpr Text kShutter{"Shutter (frames)", "Verschluss (Bilder)"};
constexpr Text kSamples{"Samples", "Samples"};
constexpr Text kMode{"Mode", "Modus"};
constexpr Text kModeAdditive{"Additive (glow)", "Additiv (Leuchten)"};
constexpr Text kModeVolumetric{"Volumetric (light + shadows)", "Volumetrisch (Licht + Schatten)"};
constexpr Text kDensity{"Density", "Dichte"};
constexpr Text kEmission{"Emission", "Eigenleuchten"};
constexpr Text kAmbient{"Ambient", "Umgebung"};
constexpr Text kScattering{"Scattering", "Streuung"};
constexpr Text kShadows{"Shadows", "Schatten"};
constexpr Text kShadowsLow{"Low", "Niedrig"};
constexpr Text kShadowsMedium{"Medium", "Mittel"};
constexpr Text kShadowsHigh{"High", "Hoch"};
constexpr Text kFormat{"Format", "Format"};
constexpr Text kFormatExr{"EXR (linear, premultiplied)", "EXR (linear, premultiplied)"};
constexpr Text kFormatPng16{"PNG 16 bit (transparent)", "PNG 16 Bit (transparent)"};
constexpr Text kFormatPng8{"PNG 8 bit (transparent)", "PNG 8 Bit (transparent)"};
constexpr Text kExportImage{"Export image", "Bild exportieren"};
constexpr Text kExportSequence{"Export sequence", "Sequenz exportieren"};
constexpr Text kCancelExport{"Cancel export", "Export abbrechen"};

// Adds controls of one language to the dialog; keeps the layout code close to the table of rows.
class LayoutWriter {
public:
  LayoutWriter(host::Dialog &dialog, Language language) : d_(dialog), language_(language) {}

  void beginRow(int32_t columns) {
    d_.groupBegin(control::kNone, layout::kFitHorizontal, columns, kAnyRows);
    d_.groupSpace(kColumnGap, 0);
  }
  void endRow() { d_.groupEnd(); }

  void label(const Text &text) {
    d_.addLabel(control::kNone, layout::kAlignLeft, kNoMinimum, pick(text, language_));
  }
  void spacer(int32_t width) { d_.addLabel(control::kNone, layout::kAlignLeft, width, ""); }
  void stretch() { d_.addLabel(control::kNone, layout::kFitHorizontal, kNoMinimum, ""); }
  void checkbox(int32_t id, const Text &text) {
    d_.addCheckbox(id, layout::kAlignLeft, kNoMinimum, pick(text, language_));
  }
  void slider(int32_t id, int32_t width) { d_.addSlider(id, layout::kFitHorizontal, width); }
  void number(int32_t id, int32_t width) { d_.addNumber(id, layout::kAlignLeft, width); }
  void button(int32_t id, const Text &text, int32_t flags = layout::kAlignLeft) {
    d_.addButton(id, flags, kNoMinimum, pick(text, language_));
  }
  void dropDown(int32_t id, int32_t width, std::initializer_list<Text> entries) {
    d_.addDropDown(id, layout::kAlignLeft, width);
    int32_t value = 0;
    for (const Text &entry : entries) {
      d_.addDropDownEntry(id, value++, pick(entry, language_));
    }
  }

private:
  host::Dialog &d_;
  Language language_;
};

} // namespace

void buildLayout(host::Dialog &dialog, Language language) {
  LayoutWriter w(dialog, language);
  dialog.setTitle(kTitle);
  dialog.groupBegin(control::kNone, layout::kFit, kOneColumn, kAnyRows);
  dialog.groupBorderSpace(kBorder, kBorder, kBorder, kBorder);

  w.beginRow(kLookRowColumns);
  w.checkbox(control::kLive, kLive);
  w.label(kBrightness);
  w.slider(control::kBrightness, kSliderWidth);
  w.label(kExposure);
  w.slider(control::kExposure, kSliderWidth);
  w.label(kRepopulation);
  w.number(control::kRepopulation, kNumberWidth);
  w.label(kRadius);
  w.number(control::kRadius, kNumberWidth);
  w.endRow();

  w.beginRow(kLensRowColumns);
  w.checkbox(control::kDepthOfField, kDepthOfField);
  w.label(kFocus);
  w.number(control::kFocus, kWideNumberWidth);
  w.label(kAperture);
  w.number(control::kAperture, kNarrowNumberWidth);
  w.button(control::kFromCamera, kFromCamera);
  w.spacer(kSpacerWidth);
  w.checkbox(control::kMotionBlur, kMotionBlur);
  w.label(kShutter);
  w.number(control::kShutter, kNarrowNumberWidth);
  w.label(kSamples);
  w.number(control::kSamples, kNarrowNumberWidth);
  w.stretch();
  w.endRow();

  w.beginRow(kVolumeRowColumns);
  w.label(kMode);
  w.dropDown(control::kMode, kModeWidth, {kModeAdditive, kModeVolumetric});
  w.label(kDensity);
  w.number(control::kDensity, kNumberWidth);
  w.label(kEmission);
  w.number(control::kEmission, kNarrowNumberWidth);
  w.label(kAmbient);
  w.number(control::kAmbient, kNarrowNumberWidth);
  w.label(kScattering);
  w.number(control::kScattering, kNarrowNumberWidth);
  w.label(kShadows);
  w.dropDown(control::kShadows, kShadowsWidth, {kShadowsLow, kShadowsMedium, kShadowsHigh});
  w.endRow();

  w.beginRow(kOutputRowColumns);
  w.label(kFormat);
  w.dropDown(control::kFormat, kFormatWidth, {kFormatExr, kFormatPng16, kFormatPng8});
  w.button(control::kExportImage, kExportImage);
  w.button(control::kExportSequence, kExportSequence);
  w.stretch();
  w.endRow();

  w.beginRow(kProgressRowColumns);
  dialog.groupBegin(control::kNone, layout::kAlignLeft, kOneColumn, kAnyRows);
  dialog.addCustomControl(control::kProgressBar, host::gui::kProgressBar, layout::kAlignLeft,
                          kProgressBarWidth, kProgressBarHeight);
  dialog.groupEnd();
  dialog.addLabel(control::kProgressText, layout::kFitHorizontal, kNoMinimum, "");
  w.button(control::kCancelExport, kCancelExport, layout::kAlignRight);
  w.endRow();

  dialog.addUserArea(control::kPreviewArea, layout::kFit, kPreviewWidth, kPreviewHeight);
  dialog.addLabel(control::kStatus, layout::kFitHorizontal, kNoMinimum,
                  pick(text::kReady, language));
  dialog.groupEnd();
}

} // namespace ek::plugin
