#include "memory_budget.h"

#include <cstdio>

#include "platform/system_info.h"

namespace ekrender {

namespace {

std::string gib(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f GiB", double(bytes) / double(uint64_t(1) << 30));
  return text;
}

} // namespace

std::string memoryShortfall(uint64_t needed, uint64_t available, const std::string &what) {
  if (needed <= available)
    return std::string();
  return what + " needs at least " + gib(needed) + " of memory, but only " + gib(available) +
         " is available";
}

std::string memoryShortfall(uint64_t needed, const std::string &what) {
  uint64_t available = 0;
  if (!ek::platform::allocatableMemory(&available))
    return std::string();
  return memoryShortfall(needed, available, what);
}

uint64_t renderHostBytes(const Options &options, OutputFormat format, int imageBuffers,
                         size_t frameFloats, bool onCpu) {
  constexpr uint64_t kRgbaFloat = 16;
  uint64_t perPixel = uint64_t(imageBuffers) * frameFloats * sizeof(float);
  if (onCpu)
    perPixel += kRgbaFloat + (options.volumetric ? sizeof(float) : 0);
  if (format == OutputFormat::Png8 || format == OutputFormat::Png16) {
    // Filtered rows of 4 or 8 bytes a pixel, and a compressed stream that noise keeps as large.
    perPixel += 2 * (format == OutputFormat::Png16 ? 8 : 4);
  }
  return perPixel * uint64_t(options.width) * uint64_t(options.height);
}

} // namespace ekrender
