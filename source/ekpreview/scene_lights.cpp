#include "ekpreview/scene_lights.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numbers>
#include <vector>

#include "ekpreview/object_parameters.h"
#include "ekpreview/texts.h"
#include "host/host_ids.h"
#include "host/text.h"

namespace ek::plugin {

namespace {

namespace lit = host::light;

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;
constexpr double kDefaultOuterAngle = std::numbers::pi / 6.0; // 30 degrees

// An enable parameter that is an integer 0, or a real whose integer part is 0, turns the light
// off; a missing one or one of another kind leaves it on.
bool enabled(const host::Object &light) {
  const host::Value value = light.parameter(lit::kEnabled);
  if (!value.isInteger() && !value.isReal()) {
    return true;
  }
  return value.asInteger().value_or(1) != 0;
}

struct LightKind {
  int32_t type;
  bool approximated;
};

LightKind lightKind(int64_t hostType) {
  switch (uint32_t(hostType)) {
  case lit::kTypeOmni:
    return {EK_LIGHT_POINT, false};
  case lit::kTypeSpot:
  case lit::kTypeSquareSpot:
  case lit::kTypeParallelSpot:
  case lit::kTypeSquareParallelSpot:
    return {EK_LIGHT_SPOT, false};
  case lit::kTypeInfinite:
  case lit::kTypeParallel:
    return {EK_LIGHT_DIRECTIONAL, false};
  default:
    return {EK_LIGHT_POINT, true};
  }
}

int32_t falloffCode(int64_t hostFalloff) {
  switch (hostFalloff) {
  case lit::kFalloffStep:
    return EK_FALLOFF_STEP;
  case lit::kFalloffInverseClamped:
    return EK_FALLOFF_INVERSE_CLAMPED;
  case lit::kFalloffInverseSquareClamped:
    return EK_FALLOFF_INVERSE_SQUARE_CLAMPED;
  case lit::kFalloffLinear:
    return EK_FALLOFF_RAMP;
  case lit::kFalloffInverse:
    return EK_FALLOFF_INVERSE;
  case lit::kFalloffInverseSquare:
    return EK_FALLOFF_INVERSE_SQUARE;
  default:
    return EK_FALLOFF_NONE;
  }
}

EKLight lightRecord(const host::Object &light, LightKind kind) {
  EKLight l{};
  l.type = kind.type;
  const host::Matrix m = light.globalMatrix();
  l.position = {float(m.offset[0]), float(m.offset[1]), float(-m.offset[2])};
  const host::Vector &z = m.axisZ;
  const double length = std::sqrt(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
  const double scale = length > 0.0 ? 1.0 / length : 1.0;
  l.direction = {float(z[0] * scale), float(z[1] * scale), float(-z[2] * scale)};

  const host::Vector color = light.parameter(lit::kColor).vector().value_or(host::Vector{1, 1, 1});
  const double intensity = realParameter(light, lit::kIntensity, 1.0);
  for (int c = 0; c < 3; ++c) {
    // Not std::max, so that a not-a-number stays one and is refused rather than made black.
    const double value = color[size_t(c)] * intensity;
    l.color[c] = float(value < 0.0 ? 0.0 : value);
  }
  const double outer = realParameter(light, lit::kOuterAngle, kDefaultOuterAngle);
  l.outerAngle = float(outer * kDegreesPerRadian);
  l.innerAngle = integerParameter(light, lit::kUseInnerAngle, 0) != 0
                     ? float(realParameter(light, lit::kInnerAngle, 0.0) * kDegreesPerRadian)
                     : l.outerAngle;
  l.falloff = falloffCode(integerParameter(light, lit::kFalloff, lit::kFalloffNone));
  l.falloffRadius = float(realParameter(light, lit::kFalloffRadius, 0.0));
  l.falloffInner = float(realParameter(light, lit::kFalloffInner, 0.0));
  l.castsShadows = integerParameter(light, lit::kShadowType, 0) != 0 ? 1 : 0;
  return l;
}

bool finite(std::initializer_list<float> values) {
  return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

std::optional<LightFault> faultOf(const EKLight &l) {
  if (!finite({l.color[0], l.color[1], l.color[2]})) {
    return LightFault::Colour;
  }
  if (!finite({l.position.x, l.position.y, l.position.z})) {
    return LightFault::Position;
  }
  if (!finite({l.direction.x, l.direction.y, l.direction.z})) {
    return LightFault::Direction;
  }
  if (!finite({l.outerAngle, l.innerAngle})) {
    return LightFault::ConeAngle;
  }
  if (!finite({l.falloffRadius, l.falloffInner})) {
    return LightFault::Falloff;
  }
  return std::nullopt;
}

const Text &faultText(LightFault fault) {
  switch (fault) {
  case LightFault::Colour:
    return text::kLightColour;
  case LightFault::Position:
    return text::kLightPosition;
  case LightFault::Direction:
    return text::kLightDirection;
  case LightFault::ConeAngle:
    return text::kLightConeAngle;
  case LightFault::Falloff:
    break;
  }
  return text::kLightFalloff;
}

void visit(const host::Object &object, LightTable &table) {
  auto light = host::Light::from(object);
  if (!light || light->switchedOff() || !enabled(*light)) {
    return;
  }
  ++table.found;
  if (table.used >= kMaxLights) {
    return;
  }
  const LightKind kind = lightKind(integerParameter(*light, lit::kType, lit::kTypeOmni));
  const EKLight record = lightRecord(*light, kind);
  if (const auto fault = faultOf(record)) {
    if (!table.refused) {
      table.refused = RefusedLight{light->name(), *fault};
    }
    return;
  }
  table.lights[table.used++] = record;
  if (kind.approximated) {
    ++table.approximated;
  }
}

} // namespace

std::string refusedLightMessage(const RefusedLight &light, Language language) {
  return host::substitute(pick(text::kLightOutOfRange, language),
                          {light.name, pick(faultText(light.fault), language)});
}

void collectLights(std::optional<host::Object> first, LightTable &table) {
  std::vector<host::Object> pending;
  if (first) {
    pending.push_back(*first);
  }
  while (!pending.empty()) {
    const host::Object object = pending.back();
    pending.pop_back();
    visit(object, table);
    // The child goes on top so that the whole subtree comes before the next sibling.
    if (auto next = object.next()) {
      pending.push_back(*next);
    }
    if (auto child = object.firstChild()) {
      pending.push_back(*child);
    }
  }
}

LightTable sceneLights(const host::Document &document, const DialogSettings &settings) {
  LightTable lights;
  if (settings.mode == kModeVolumetric) {
    collectLights(document.firstObject(), lights);
  }
  return lights;
}

} // namespace ek::plugin
