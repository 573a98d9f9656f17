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
  bool failMakeCurrent = false; // the device cannot be selected, as a GPU that was lost
  int calls = 0; // calls forwarded to the real device, but for makeCurrent and the error texts

  DeviceStatus makeCurrent() override {
    return failMakeCurrent ? kCpuInvalidValue : inner_->makeCurrent();
  }
  DeviceStatus allocate(void **pointer, uint64_t bytes) override {
    if (allocationsBeforeFailure == 0) {
      *pointer = nullptr;
      return kCpuOutOfMemory;
    }
    if (allocationsBeforeFailure > 0)
      --allocationsBeforeFailure;
    return inner().allocate(pointer, bytes);
  }
  void release(void *pointer) override {
    releases += pointer != nullptr;
    inner().release(pointer);
  }
  DeviceStatus copyToDevice(void *dst, const void *src, uint64_t bytes) override {
    return failCopiesIn ? kCpuInvalidValue : inner().copyToDevice(dst, src, bytes);
  }
  DeviceStatus copyToHost(void *dst, const void *src, uint64_t bytes) override {
    return failCopiesOut ? kCpuInvalidValue : inner().copyToHost(dst, src, bytes);
  }
  DeviceStatus fill(void *dst, int value, uint64_t bytes) override {
    return failFills ? kCpuInvalidValue : inner().fill(dst, value, bytes);
  }
  DeviceStatus fillAsync(void *dst, int value, uint64_t bytes) override {
    return inner().fillAsync(dst, value, bytes);
  }
  DeviceStatus memoryInfo(uint64_t *freeBytes, uint64_t *totalBytes) override {
    return inner().memoryInfo(freeBytes, totalBytes);
  }
  bool usesHostMemory() const override { return !claimsGpuMemory && inner_->usesHostMemory(); }
  int multiprocessorCount() override { return inner().multiprocessorCount(); }
  DeviceStatus properties(DeviceProperties *out) override {
    return failProperties ? kCpuInvalidValue : inner().properties(out);
  }
  DeviceStatus createEvent(DeviceEvent *event) override { return inner().createEvent(event); }
  void destroyEvent(DeviceEvent event) override { inner().destroyEvent(event); }
  DeviceStatus recordEvent(DeviceEvent event) override { return inner().recordEvent(event); }
  DeviceStatus synchronizeEvent(DeviceEvent event) override {
    return inner().synchronizeEvent(event);
  }
  DeviceStatus elapsedMs(float *ms, DeviceEvent start, DeviceEvent stop) override {
    return inner().elapsedMs(ms, start, stop);
  }
  DeviceStatus takeLaunchError() override {
    const DeviceStatus status = inner().takeLaunchError();
    return failLaunches ? kCpuInvalidConfiguration : status;
  }
  DeviceStatus synchronize() override { return inner().synchronize(); }
  std::string errorText(DeviceStatus status) override { return inner_->errorText(status); }

  void launch(uint32_t blocks, const KernelArgs &args) override { inner().launch(blocks, args); }

private:
  Device &inner() {
    ++calls;
    return *inner_;
  }

  std::unique_ptr<Device> inner_;
};

} // namespace ek::test
