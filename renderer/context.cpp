#include "context.h"

#include <algorithm>

namespace ek {

void setError(EKContext *context, const std::string &text) {
  if (context)
    context->lastError = text;
}

bool checkCuda(EKContext *context, DeviceStatus status, const char *label) {
  if (status == kDeviceOk)
    return true;
  if (context) {
    std::string description = context->backend ? context->backend->errorText(status) : "";
    if (description.empty())
      description = "error " + std::to_string(status);
    setError(context, std::string(label) + ": " + description);
  }
  return false;
}

const char *memoryName(const EKContext *context) {
  return context->backend->usesHostMemory() ? "host memory" : "VRAM";
}

bool allocate(EKContext *context, void **pointer, uint64_t bytes, const char *buffer) {
  const char *verb = context->backend->usesHostMemory() ? "allocate " : "cudaMalloc ";
  return checkCuda(context, context->backend->allocate(pointer, bytes),
                   (std::string(verb) + buffer).c_str());
}

uint32_t blocksFor(Device &device, uint64_t n, uint32_t blockSize) {
  return blocksForMultiprocessors(n, blockSize, device.multiprocessorCount());
}

uint32_t blocksForMultiprocessors(uint64_t n, uint32_t blockSize, int reported) {
  constexpr uint64_t kBlocksPerMultiprocessor = 32;
  constexpr int kAssumedMultiprocessors = 64;
  const uint64_t multiprocessors = reported < 1 ? kAssumedMultiprocessors : uint64_t(reported);
  // n / blockSize rounded up without the n - 1 + blockSize sum, which wraps near 2^64.
  uint64_t blocks = n / blockSize + (n % blockSize != 0);
  blocks = std::max<uint64_t>(blocks, 1);
  return uint32_t(std::min(blocks, kBlocksPerMultiprocessor * multiprocessors));
}

} // namespace ek
