// The scene's lights as the renderer's light records, for the volumetric look.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ekpreview/dialog_settings.h"
#include "ekpreview/language.h"
#include "emberkit.h"
#include "host/document.h"
#include "host/object.h"

namespace ek::plugin {

// The renderer takes at most this many lights.
constexpr int32_t kMaxLights = 8;

// What of a light lies beyond the renderer's single-precision numbers (1e300 as an intensity, a
// position beyond 3.4e38): the renderer refuses a request with such a light.
enum class LightFault { Colour, Position, Direction, ConeAngle, Falloff };

struct RefusedLight {
  std::string name;
  LightFault fault;
};

struct LightTable {
  EKLight lights[kMaxLights] = {};
  int32_t used = 0;         // records filled
  int32_t found = 0;        // enabled lights of the scene, stored or not
  int32_t approximated = 0; // stored lights of a kind the renderer lacks, drawn as point lights
  std::optional<RefusedLight> refused; // the first light that would have been stored but cannot
};

// "light "Key": colour x intensity is out of range" in the language, for the error line.
std::string refusedLightMessage(const RefusedLight &light, Language language);

// Walks the object tree from the first object, depth first in document order (an object, its
// children, then its next sibling), and stores the first eight enabled lights that are switched
// on. Colours (colour x intensity) below zero are taken as zero: light is never subtracted. A
// light among the first eight that the renderer cannot take is not stored but named in `refused`.
// Children of skipped objects are still visited. The walk keeps its own stack, so a deep hierarchy
// cannot exhaust the thread's stack.
void collectLights(std::optional<host::Object> first, LightTable &table);

// The lights a render of the document with these settings uses: the scene's for the volumetric
// look, none for the others.
LightTable sceneLights(const host::Document &document, const DialogSettings &settings);

} // namespace ek::plugin
