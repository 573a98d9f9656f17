// Whether the host's memory can hold the images of a live preview, judged before any of them is
// allocated: a huge preview area is refused at once instead of after seconds of paging.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ekpreview/language.h"

namespace ek::plugin {

struct PreviewMemory {
  uint64_t needed = 0;    // bytes for the images of one preview
  uint64_t available = 0; // bytes the process can still allocate
};

// Bytes per pixel the preview's images take in host memory: the plug-in's image and the host's
// bitmap, plus the renderer's accumulator when the renderer works in host memory (on the CPU).
uint64_t previewBytesPerPixel(bool rendererInHostMemory);

// The shortfall when width x height pixels at bytesPerPixel do not fit into what the process can
// still allocate; nothing when they fit or when the system cannot tell.
std::optional<PreviewMemory> previewShortfall(int32_t width, int32_t height,
                                              uint64_t bytesPerPixel);

// "preview of 20000x20000 needs 9.6 GB, 3.2 GB available" in the language.
std::string previewTooLargeMessage(int32_t width, int32_t height, const PreviewMemory &memory,
                                   Language language);

} // namespace ek::plugin
