#include "context.h"

#include <algorithm>
#include <limits>

#include "kernels/sampling.h"

namespace ek {

void setError(EKContext *context, const std::string &text) {
  if (context)
    context->lastError = text;
}

void setFailure(EKContext *context, const char *name, const char *text) noexcept {
  try {
    setError(context, std::string(name) + ": " + text);
  } catch (...) {
  }
}

bool makeDeviceCurrent(EKContext *context, const char *name) {
  return checkDevice(context, context->backend->makeCurrent(),
                     (std::string(name) + ": make device current").c_str());
}

bool checkDevice(EKContext *context, DeviceStatus status, const char *label) {
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

std::string allocationLabel(const EKContext *context, const char *name) {
  return std::string(context->backend->usesHostMemory() ? "allocate " : "cudaMalloc ") + name;
}

uint32_t blocksFor(Device &device, uint64_t n, uint32_t blockSize) {
  return blocksForMultiprocessors(n, blockSize, device.multiprocessorCount());
}

uint32_t blocksForMultiprocessors(uint64_t n, uint32_t blockSize, int reported) {
  constexpr uint64_t kBlocksPerMultiprocessor = 32;
  constexpr int kAssumedMultiprocessors = 64;
  const uint64_t multiprocessors = reported < 1 ? kAssumedMultiprocessors : uint64_t(reported);
  return uint32_t(
      std::min(blocksCovering(n, blockSize), kBlocksPerMultiprocessor * multiprocessors));
}

uint64_t blocksCovering(uint64_t n, uint32_t blockSize) {
  // n / blockSize rounded up without the n - 1 + blockSize sum, which wraps near 2^64.
  return std::max<uint64_t>(n / blockSize + (n % blockSize != 0), 1);
}

bool splatWork(EKContext *context, const Frame &frame, uint64_t count, uint64_t &work) {
  const uint64_t perParticle = itemsPerParticle(frame.repopulation, frame.samples);
  if (count != 0 && perParticle > std::numeric_limits<uint64_t>::max() / count) {
    setError(context, "ekRender: too many samples (particles x copies x samples exceeds 64 bits)");
    return false;
  }
  work = perParticle * count;
  return true;
}

} // namespace ek
