#include "ekpreview/change_key.h"

#include <charconv>

namespace ek::plugin {

namespace {

class KeyWriter {
public:
  KeyWriter() { text_.reserve(640); }

  KeyWriter &number(double value) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    text_.append(buffer, end);
    return *this;
  }
  KeyWriter &number(int64_t value) {
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    text_.append(buffer, end);
    return *this;
  }
  KeyWriter &number(int32_t value) { return number(int64_t(value)); }
  KeyWriter &number(float value) { return number(double(value)); }
  KeyWriter &flag(bool value) {
    text_ += value ? "true" : "false";
    return *this;
  }
  KeyWriter &mark(const char *separator) {
    text_ += separator;
    return *this;
  }
  // Values separated by the separator.
  template <typename... Values> KeyWriter &list(const char *separator, Values... values) {
    bool first = true;
    ((first ? void(first = false) : void(mark(separator)), number(values)), ...);
    return *this;
  }
  std::string take() { return std::move(text_); }

private:
  std::string text_;
};

} // namespace

std::string previewKey(int32_t uploadGeneration, const EKCamera &c, const EKRenderSettings &r,
                       const LightTable &lights, const SphericalCamera &s) {
  KeyWriter key;
  key.list("|", uploadGeneration, r.width, r.height, c.eye.x, c.eye.y, c.eye.z, c.target.x,
           c.target.y, c.target.z, c.fovY, r.brightness, r.exposure, r.repopulation, r.radius,
           r.samples, r.shutter, c.focusDistance, c.aperture, c.up.x, c.up.y);
  key.mark("|").list("|", r.mode, r.density, r.emission, r.ambient[0], r.scattering,
                     r.shadowMapSize, c.up.z);
  key.mark("|").number(lights.used);
  for (int32_t i = 0; i < lights.used; ++i) {
    const EKLight &l = lights.lights[i];
    key.mark("|").list(",", l.type, l.position.x, l.position.y, l.position.z, l.direction.x,
                       l.direction.y, l.direction.z, l.color[0], l.color[1], l.color[2],
                       l.outerAngle, l.innerAngle, l.falloff, l.falloffRadius, l.falloffInner,
                       l.castsShadows);
  }
  key.mark("|sph").flag(s.spherical).mark(",").flag(s.stereo).mark(",").flag(s.toeIn).mark(",");
  key.list(",", s.stereoLayout, s.lonMin, s.lonMax, s.latMin, s.latMax, s.eyeSeparation,
           s.zeroParallaxDistance, s.stereoPivotOffset, s.topMergeMode, s.bottomMergeMode,
           s.topMergeAngle, s.bottomMergeAngle, s.topMergeExponent, s.bottomMergeExponent);
  key.mark(",").flag(s.cubic);
  return key.take();
}

} // namespace ek::plugin
