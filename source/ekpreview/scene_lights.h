// The scene's lights as the renderer's light records, for the volumetric look.
#pragma once

#include <cstdint>
#include <optional>

#include "emberkit.h"
#include "host/object.h"

namespace ek::plugin {

// The renderer takes at most this many lights.
constexpr int32_t kMaxLights = 8;

struct LightTable {
  EKLight lights[kMaxLights] = {};
  int32_t used = 0;         // records filled
  int32_t found = 0;        // enabled lights of the scene, stored or not
  int32_t approximated = 0; // stored lights of a kind the renderer lacks, drawn as point lights
};

// Walks the object tree from the first object, depth first in document order (an object, its
// children, then its next sibling), and stores the first eight enabled lights that are switched
// on. Children of skipped objects are still visited. The walk keeps its own stack, so a deep
// hierarchy cannot exhaust the thread's stack.
void collectLights(std::optional<host::Object> first, LightTable &table);

} // namespace ek::plugin
