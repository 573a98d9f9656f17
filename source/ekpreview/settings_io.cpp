#include "ekpreview/settings_io.h"

namespace ek::plugin {

namespace {

template <typename T> void overwrite(const std::optional<T> &value, T &field) {
  if (value) {
    field = *value;
  }
}

} // namespace

void setDefaults(host::Dialog &dialog) {
  for (const RealControl &c : controls::kReals) {
    setRealValue(dialog, c, c.defaultValue);
  }
  for (const IntControl &c : controls::kInts) {
    dialog.setInt(c.id, c.defaultValue, c.minimum, c.maximum, c.step);
  }
  for (const BoolControl &c : controls::kBools) {
    dialog.setBool(c.id, c.defaultValue);
  }
}

void setRealValue(host::Dialog &dialog, const RealControl &control, double value) {
  dialog.setReal(control.id, value, control.minimum, control.maximum, control.step);
}

DialogSettings readSettings(const host::Dialog &dialog) {
  DialogSettings s;
  overwrite(dialog.getReal(control::kBrightness), s.brightness);
  overwrite(dialog.getReal(control::kExposure), s.exposure);
  overwrite(dialog.getReal(control::kRadius), s.radius);
  overwrite(dialog.getInt(control::kRepopulation), s.repopulation);
  overwrite(dialog.getBool(control::kDepthOfField), s.depthOfField);
  overwrite(dialog.getBool(control::kMotionBlur), s.motionBlur);
  overwrite(dialog.getReal(control::kFocus), s.focus);
  overwrite(dialog.getReal(control::kAperture), s.aperture);
  overwrite(dialog.getReal(control::kShutter), s.shutter);
  overwrite(dialog.getInt(control::kSamples), s.samples);
  overwrite(dialog.getInt(control::kMode), s.mode);
  overwrite(dialog.getReal(control::kDensity), s.density);
  overwrite(dialog.getReal(control::kEmission), s.emission);
  overwrite(dialog.getReal(control::kAmbient), s.ambient);
  overwrite(dialog.getReal(control::kScattering), s.scattering);
  overwrite(dialog.getInt(control::kShadows), s.shadows);
  return s;
}

} // namespace ek::plugin
