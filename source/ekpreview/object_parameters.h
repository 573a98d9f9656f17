// Reading typed parameters of host objects with a default for missing ones.
#pragma once

#include <cstdint>

#include "host/object.h"

namespace ek::plugin {

// An integer parameter; a real one is truncated. The fallback when missing or of another kind.
inline int64_t integerParameter(const host::Object &object, int32_t id, int64_t fallback) {
  return object.parameter(id).asInteger().value_or(fallback);
}

// A real parameter; an integer one is converted. The fallback when missing or of another kind.
inline double realParameter(const host::Object &object, int32_t id, double fallback) {
  return object.parameter(id).asReal().value_or(fallback);
}

} // namespace ek::plugin
