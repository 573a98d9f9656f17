// The CUDA backend: a thin layer over the CUDA runtime. Every call first makes the context's
// device current, since contexts on other devices may have run on this thread meanwhile. Each
// device object owns a stream, and every copy, fill, launch, event and synchronisation of it goes
// on that stream, so contexts sharing a GPU neither wait for nor time each other's work. The
// launches are defined beside their kernels, in cuda_kernels.cu, as the CPU backend's are in its
// kernel files.
#pragma once

#include <cuda_runtime.h>

#include "device.h"

namespace ek {

class CudaDevice final : public Device {
public:
  explicit CudaDevice(int ordinal) : ordinal_(ordinal) {}
  ~CudaDevice() override;
  CudaDevice(const CudaDevice &) = delete;
  CudaDevice &operator=(const CudaDevice &) = delete;

  // Also makes the device's stream, the first time the device can be made current.
  DeviceStatus makeCurrent() override;
  DeviceStatus allocate(void **pointer, uint64_t bytes) override;
  void release(void *pointer) override;
  DeviceStatus copyToDevice(void *dst, const void *src, uint64_t bytes) override;
  DeviceStatus copyToHost(void *dst, const void *src, uint64_t bytes) override;
  DeviceStatus fill(void *dst, int value, uint64_t bytes) override;
  DeviceStatus fillAsync(void *dst, int value, uint64_t bytes) override;
  DeviceStatus memoryInfo(uint64_t *freeBytes, uint64_t *totalBytes) override;
  int multiprocessorCount() override;
  DeviceStatus properties(DeviceProperties *out) override;
  DeviceStatus createEvent(DeviceEvent *event) override;
  void destroyEvent(DeviceEvent event) override;
  DeviceStatus recordEvent(DeviceEvent event) override;
  DeviceStatus synchronizeEvent(DeviceEvent event) override;
  DeviceStatus elapsedMs(float *ms, DeviceEvent start, DeviceEvent stop) override;
  DeviceStatus takeLaunchError() override;
  DeviceStatus synchronize() override;
  std::string errorText(DeviceStatus status) override;

  void launch(uint32_t blocks, const KernelArgs &args) override;

private:
  // Waits for the device's stream when `status` says the call before succeeded.
  DeviceStatus thenSynchronize(cudaError_t status);

  int ordinal_;
  // Non-blocking: it never waits for work that other code queues on the default stream.
  cudaStream_t stream_ = nullptr;
};

} // namespace ek
