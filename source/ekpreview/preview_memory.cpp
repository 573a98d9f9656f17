#include "ekpreview/preview_memory.h"

#include <cstdint>

#include "ekpreview/texts.h"
#include "host/text.h"
#include "platform/system_info.h"

namespace ek::plugin {

namespace {

constexpr uint64_t kImageBytes = 4;        // the plug-in's RGBA image
constexpr uint64_t kBitmapBytes = 4;       // the host's copy in its bitmap
constexpr uint64_t kAccumulatorBytes = 16; // four floats per pixel in the renderer
constexpr double kBytesPerGigabyte = 1e9;

std::string gigabytes(uint64_t bytes) {
  return host::formatReal(double(bytes) / kBytesPerGigabyte, 1);
}

} // namespace

uint64_t previewBytesPerPixel(bool rendererInHostMemory) {
  return kImageBytes + kBitmapBytes + (rendererInHostMemory ? kAccumulatorBytes : 0);
}

std::optional<PreviewMemory> previewShortfall(int32_t width, int32_t height,
                                              uint64_t bytesPerPixel) {
  PreviewMemory memory;
  if (!platform::allocatableMemory(&memory.available)) {
    return std::nullopt;
  }
  // Up to 2^62 pixels: a product beyond 64 bits is as much as none can hold.
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  memory.needed = bytesPerPixel != 0 && pixels > UINT64_MAX / bytesPerPixel
                      ? UINT64_MAX
                      : pixels * bytesPerPixel;
  if (memory.needed <= memory.available) {
    return std::nullopt;
  }
  return memory;
}

std::string previewTooLargeMessage(int32_t width, int32_t height, const PreviewMemory &memory,
                                   Language language) {
  return host::substitute(pick(text::kPreviewTooLarge, language),
                          {std::to_string(width), std::to_string(height), gigabytes(memory.needed),
                           gigabytes(memory.available)});
}

} // namespace ek::plugin
