#include "ekpreview/statistics_line.h"

#include "ekpreview/texts.h"
#include "host/text.h"

namespace ek::plugin {

namespace {

constexpr double kSamplesPerMillion = 1e6;

std::string filled(const Text &t, Language language, std::initializer_list<std::string> values) {
  return host::substitute(pick(t, language), values);
}

} // namespace

std::string statisticsLine(const RenderStatistics &s, const SphericalCamera &spherical,
                           const LightTable &lights, Language language) {
  using host::formatReal;
  const double samples =
      (double(s.repopulation) + 1.0) * double(s.particleCount) * double(s.samples);
  std::string line =
      filled(text::kStatistics, language,
             {std::to_string(s.particleCount), formatReal(samples / kSamplesPerMillion, 2),
              formatReal(s.readMs, 1), formatReal(s.uploadMs, 1), formatReal(s.renderMs, 1),
              formatReal(s.gpuMs, 2)});
  if (s.motionBlur) {
    line += filled(text::kMeanSpeed, language, {formatReal(s.meanSpeedRaw, 1)});
  }
  if (spherical.spherical) {
    line += describeProjection(spherical, language);
  }
  if (s.volumetric) {
    line += filled(text::kLights, language, {std::to_string(lights.used)});
    if (lights.found > lights.used) {
      line += filled(text::kLightsOfMaximum, language,
                     {std::to_string(lights.found), std::to_string(kMaxLights)});
    }
    if (lights.approximated > 0) {
      line += filled(text::kLightsApproximated, language, {std::to_string(lights.approximated)});
    }
    if (lights.used == 0) {
      line += pick(text::kNoLights, language);
    }
  }
  if (s.onCpu) {
    line += pick(text::kCpuMark, language);
  }
  return line;
}

} // namespace ek::plugin
