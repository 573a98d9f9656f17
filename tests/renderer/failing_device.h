// A device that forwards to a real one but fails chosen calls, to drive the library's error paths
// the way a GPU that runs out of memory or faults would.
#pragma once

#include <memory>
#include <utility>

#include "cpu/cpu_device.h"

namespace ek::test {

class FailingDevice final : public Device {
public:
  explicit FailingDevice(std::unique_ptr<Device> inner) : inner_(std::move(inner)) {}

  int allocationsBeforeFailure = -1; // fails the allocation after this many more; -1 never
  bool claimsGpuMemory = false;      // reports device memory of its own, as a GPU does
  int releases = 0;                  // allocations freed so far
  bool failCopiesIn = false, failCopiesOut = false, failFills = false, failLaunches = false,
       failProperties = false;

  DeviceStatus makeCurrent() override { return inner_->makeCurrent(); }
  DeviceStatus allocate(void **pointer, uint64_t bytes) override {
    if (allocationsBeforeFailure == 0) {
      *pointer = nullptr;
      return kCpuOutOfMemory;
    }
    if (allocationsBeforeFailure > 0)
      --allocationsBeforeFailure;
    return inner_->allocate(pointer, bytes);
  }
  void release(void *pointer) override {
    releases += pointer != nullptr;
    inner_->release(pointer);
  }
  DeviceStatus copyToDevice(void *dst, const void *src, uint64_t bytes) override {
    return failCopiesIn ? kCpuInvalidValue : inner_->copyToDevice(dst, src, bytes);
  }
  DeviceStatus copyToHost(void *dst, const void *src, uint64_t bytes) override {
    return failCopiesOut ? kCpuInvalidValue : inner_->copyToHost(dst, src, bytes);
  }
  DeviceStatus fill(void *dst, int value, uint64_t bytes) override {
    return failFills ? kCpuInvalidValue : inner_->fill(dst, value, bytes);
  }
  DeviceStatus fillAsync(void *dst, int value, uint64_t bytes) override {
    return inner_->fillAsync(dst, value, bytes);
  }
  DeviceStatus memoryInfo(uint64_t *freeBytes, uint64_t *totalBytes) override {
    return inner_->memoryInfo(freeBytes, totalBytes);
  }
  bool usesHostMemory() const override { return !claimsGpuMemory && inner_->usesHostMemory(); }
  int multiprocessorCount() override { return inner_->multiprocessorCount(); }
  DeviceStatus properties(DeviceProperties *out) override {
    return failProperties ? kCpuInvalidValue : inner_->properties(out);
  }
  DeviceStatus createEvent(DeviceEvent *event) override { return inner_->createEvent(event); }
  void destroyEvent(DeviceEvent event) override { inner_->destroyEvent(event); }
  DeviceStatus recordEvent(DeviceEvent event) override { return inner_->recordEvent(event); }
  DeviceStatus synchronizeEvent(DeviceEvent event) override {
    return inner_->synchronizeEvent(event);
  }
  DeviceStatus elapsedMs(float *ms, DeviceEvent start, DeviceEvent stop) override {
    return inner_->elapsedMs(ms, start, stop);
  }
  DeviceStatus takeLaunchError() override {
    const DeviceStatus status = inner_->takeLaunchError();
    return failLaunches ? kCpuInvalidConfiguration : status;
  }
  DeviceStatus synchronize() override { return inner_->synchronize(); }
  std::string errorText(DeviceStatus status) override { return inner_->errorText(status); }

  void launchSplat(uint32_t blocks, const SplatArgs &args) override {
    inner_->launchSplat(blocks, args);
  }
  void launchResolve(uint32_t blocks, const ResolveArgs &args) override {
    inner_->launchResolve(blocks, args);
  }
  void launchGenerateGalaxy(uint32_t blocks, const GalaxyArgs &args) override {
    inner_->launchGenerateGalaxy(blocks, args);
  }
  DeviceStatus uploadVolumeConstants(const VolumeConstants &constants) override {
    return inner_->uploadVolumeConstants(constants);
  }
  void launchBounds(uint32_t blocks, const BoundsArgs &args) override {
    inner_->launchBounds(blocks, args);
  }
  void launchLightSplat(uint32_t blocks, const LightSplatArgs &args) override {
    inner_->launchLightSplat(blocks, args);
  }
  void launchPrefix(uint32_t blocks, const PrefixArgs &args) override {
    inner_->launchPrefix(blocks, args);
  }
  void launchCamSplat(uint32_t blocks, const CamSplatArgs &args) override {
    inner_->launchCamSplat(blocks, args);
  }
  void launchShade(uint32_t blocks, const ShadeArgs &args) override {
    inner_->launchShade(blocks, args);
  }
  void launchResolveVol(uint32_t blocks, const ResolveVolArgs &args) override {
    inner_->launchResolveVol(blocks, args);
  }

private:
  std::unique_ptr<Device> inner_;
};

} // namespace ek::test
