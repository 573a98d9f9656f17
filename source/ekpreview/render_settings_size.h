// The output size of a document's active render settings.
#pragma once

#include <cstdint>
#include <optional>

#include "host/document.h"

namespace ek::plugin {

// The width or height (host::render_data IDs): integers as they are, reals rounded to the
// nearest pixel by adding 0.5 and truncating. Absent without render settings or without the value.
std::optional<double> renderSettingsSize(const host::Document &document, int32_t id);

} // namespace ek::plugin
