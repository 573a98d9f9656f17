// Names and texts of exported images: file names of frames and durations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/document.h"

namespace ek::plugin {

// "1:15" below an hour, "1:02:05" from an hour on; seconds rounded, negatives as 0.
std::string formatDuration(double seconds);

// The stem, "_", the frame with at least four digits (a minus sign in front of negative ones)
// and the extension, joined to the folder by the host: scene_0007.exr, scene_-012.png.
std::optional<std::string> frameFileName(const std::string &folder, const std::string &stem,
                                         int32_t frame, const std::string &extension);

// The document's file name without its suffix, or "partikel" for a document without one.
std::string exportStem(const host::Document &document);

} // namespace ek::plugin
