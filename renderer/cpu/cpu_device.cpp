#include "cpu/cpu_device.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <variant>

#include "platform/system_info.h"

namespace ek {

namespace {

constexpr uint64_t kParallelFillBytes = uint64_t(4) << 20; // smaller fills are not worth splitting

} // namespace

CpuFeatures detectCpuFeatures() {
  CpuFeatures features;
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  features.avx2Fma = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#endif
  return features;
}

unsigned cpuWorkerCount(const char *requested, unsigned hardware) {
  if (requested && *requested) {
    char *end = nullptr;
    const unsigned long n = std::strtoul(requested, &end, 10);
    if (*end == '\0' && n >= 1 && n <= kMaxCpuWorkers && requested[0] != '-')
      return unsigned(n);
  }
  return hardware > 0 ? hardware : 1;
}

std::unique_ptr<Device> createCpuDevice() {
  return std::make_unique<CpuDevice>(
      cpuWorkerCount(std::getenv("EMBERKIT_CPU_WORKERS"), std::thread::hardware_concurrency()),
      vectorPathsFor(detectCpuFeatures()));
}

CpuDevice::CpuDevice(unsigned workers, const VectorPaths &vector)
    : pool_(workers), vector_(vector) {}

DeviceStatus CpuDevice::allocate(void **pointer, uint64_t bytes) {
  *pointer = nullptr;
  if (bytes == 0)
    return kDeviceOk;
  *pointer = memory_.allocate(bytes);
  return *pointer ? kDeviceOk : kCpuOutOfMemory;
}

void CpuDevice::release(void *pointer) { memory_.release(pointer); }

DeviceStatus CpuDevice::copyToDevice(void *dst, const void *src, uint64_t bytes) {
  if (bytes == 0)
    return kDeviceOk;
  if (!dst || !src)
    return kCpuInvalidValue;
  std::memcpy(dst, src, bytes);
  memoryTiles(dst).markRange(dst, bytes);
  return kDeviceOk;
}

DeviceStatus CpuDevice::copyToHost(void *dst, const void *src, uint64_t bytes) {
  return copyToDevice(dst, src, bytes);
}

DeviceStatus CpuDevice::fill(void *dst, int value, uint64_t bytes) {
  if (bytes == 0)
    return kDeviceOk;
  if (!dst)
    return kCpuInvalidValue;
  const DirtyTiles tiles = memoryTiles(dst);
  if (value == 0 && tiles.tracked()) {
    CpuMemory::clear(pool_, tiles, dst, bytes);
    return kDeviceOk;
  }
  if (bytes < kParallelFillBytes) {
    std::memset(dst, value, bytes);
  } else {
    auto *base = static_cast<unsigned char *>(dst);
    pool_.parallelFor(bytes, pool_.chunkFor(bytes, kParallelFillBytes / 4),
                      [&](uint64_t begin, uint64_t end, unsigned) {
                        std::memset(base + begin, value, end - begin);
                      });
  }
  tiles.markRange(dst, bytes);
  return kDeviceOk;
}

DeviceStatus CpuDevice::fillAsync(void *dst, int value, uint64_t bytes) {
  return fill(dst, value, bytes);
}

DeviceStatus CpuDevice::memoryInfo(uint64_t *freeBytes, uint64_t *totalBytes) {
  return platform::systemMemory(freeBytes, totalBytes) ? kDeviceOk : kCpuInvalidValue;
}

DeviceStatus CpuDevice::properties(DeviceProperties *out) {
  out->name = platform::processorName() + " (" + std::to_string(pool_.size()) + " threads)";
  out->major = 0;
  out->minor = 0;
  return kDeviceOk;
}

DeviceStatus CpuDevice::createEvent(DeviceEvent *event) {
  *event = new (std::nothrow) CpuEvent();
  return *event ? kDeviceOk : kCpuOutOfMemory;
}

void CpuDevice::destroyEvent(DeviceEvent event) { delete static_cast<CpuEvent *>(event); }

DeviceStatus CpuDevice::recordEvent(DeviceEvent event) {
  if (!event)
    return kCpuInvalidHandle;
  auto *cpuEvent = static_cast<CpuEvent *>(event);
  cpuEvent->time = std::chrono::steady_clock::now();
  cpuEvent->recorded = true;
  return kDeviceOk;
}

DeviceStatus CpuDevice::synchronizeEvent(DeviceEvent event) {
  return event ? kDeviceOk : kCpuInvalidHandle;
}

DeviceStatus CpuDevice::elapsedMs(float *ms, DeviceEvent start, DeviceEvent stop) {
  if (!start || !stop)
    return kCpuInvalidHandle;
  const auto *from = static_cast<CpuEvent *>(start);
  const auto *to = static_cast<CpuEvent *>(stop);
  if (!from->recorded || !to->recorded)
    return kCpuNotReady;
  *ms = std::chrono::duration<float, std::milli>(to->time - from->time).count();
  return kDeviceOk;
}

DeviceStatus CpuDevice::takeLaunchError() {
  const DeviceStatus status = launchError_;
  launchError_ = kDeviceOk;
  return status;
}

void CpuDevice::launch(uint32_t blocks, const KernelArgs &args) {
  if (blocks == 0) { // a grid of no blocks cannot be configured, as the CUDA runtime says
    launchError_ = kCpuInvalidConfiguration;
    return;
  }
  std::visit([&](const auto &kernelArgs) { run(blocks, kernelArgs); }, args);
}

std::string CpuDevice::errorText(DeviceStatus status) {
  switch (status) {
  case kDeviceOk:
    return "no error";
  case kCpuInvalidValue:
    return "invalid argument";
  case kCpuOutOfMemory:
    return "out of host memory";
  case kCpuInvalidConfiguration:
    return "invalid configuration argument";
  case kCpuInvalidHandle:
    return "invalid resource handle";
  case kCpuNotReady:
    return "device not ready";
  default:
    return "unknown error";
  }
}

} // namespace ek
