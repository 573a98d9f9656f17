#include "ekpreview/scene_lights.h"

#include <cmath>
#include <numbers>
#include <vector>

#include "ekpreview/object_parameters.h"
#include "host/host_ids.h"

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
    l.color[c] = float(color[size_t(c)] * intensity);
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
  table.lights[table.used++] = lightRecord(*light, kind);
  if (kind.approximated) {
    ++table.approximated;
  }
}

} // namespace

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

} // namespace ek::plugin
