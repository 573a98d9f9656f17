// The device interface: everything the render pipeline needs from a compute backend. The pipeline
// is written once against it; the CUDA and CPU backends implement it. Calls return a DeviceStatus
// (0 = success, otherwise a backend-specific code that errorText describes), mirroring the CUDA
// runtime so that both backends report failures the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kernels/launch_args.h"

namespace ek {

using DeviceStatus = int;
constexpr DeviceStatus kDeviceOk = 0;

using DeviceEvent = void *;

struct DeviceProperties {
  std::string name;
  int major = 0;
  int minor = 0;
};

class Device {
public:
  virtual ~Device() = default;

  // Makes this device current on the calling thread.
  virtual DeviceStatus makeCurrent() = 0;

  virtual DeviceStatus allocate(void **pointer, uint64_t bytes) = 0;
  virtual void release(void *pointer) = 0; // null is harmless; errors are ignored
  virtual DeviceStatus copyToDevice(void *dst, const void *src, uint64_t bytes) = 0;
  virtual DeviceStatus copyToHost(void *dst, const void *src, uint64_t bytes) = 0;
  virtual DeviceStatus fill(void *dst, int value, uint64_t bytes) = 0;
  // A fill ordered before later launches whose status the caller ignores.
  virtual DeviceStatus fillAsync(void *dst, int value, uint64_t bytes) = 0;

  virtual DeviceStatus memoryInfo(uint64_t *freeBytes, uint64_t *totalBytes) = 0;
  // True when the device's memory is the host's (the CPU backend); failures then name host
  // memory rather than VRAM and cudaMalloc.
  virtual bool usesHostMemory() const { return false; }
  // Multiprocessor count (CPU: worker threads); 0 when it cannot be told.
  virtual int multiprocessorCount() = 0;
  virtual DeviceStatus properties(DeviceProperties *out) = 0;

  virtual DeviceStatus createEvent(DeviceEvent *event) = 0;
  virtual void destroyEvent(DeviceEvent event) = 0;
  virtual DeviceStatus recordEvent(DeviceEvent event) = 0;
  virtual DeviceStatus synchronizeEvent(DeviceEvent event) = 0;
  virtual DeviceStatus elapsedMs(float *ms, DeviceEvent start, DeviceEvent stop) = 0;

  // Returns and clears the error of the most recent launches.
  virtual DeviceStatus takeLaunchError() = 0;
  virtual DeviceStatus synchronize() = 0;
  virtual std::string errorText(DeviceStatus status) = 0;

  // Runs the kernel that the record's type names, on `blocks` blocks of kBlockSize threads, after
  // this device's earlier work. A launch that cannot be configured records a launch error instead
  // of running.
  virtual void launch(uint32_t blocks, const KernelArgs &args) = 0;
};

std::unique_ptr<Device> createCpuDevice();
// A CUDA device for `ordinal`; in a build without the CUDA backend, a device whose every call
// fails. Creation never fails: errors surface from makeCurrent and later calls.
std::unique_ptr<Device> createCudaDevice(int ordinal);

} // namespace ek
