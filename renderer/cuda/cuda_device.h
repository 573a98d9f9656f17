// The CUDA backend: a thin layer over the CUDA runtime. Every call first makes the context's
// device current, since contexts on other devices may have run on this thread meanwhile. The
// launches are defined beside their kernels, in cuda_kernels.cu and cuda_volume_kernels.cu, as the
// CPU backend's are in its kernel files.
#pragma once

#include "device.h"

namespace ek {

class CudaDevice final : public Device {
public:
  explicit CudaDevice(int ordinal) : ordinal_(ordinal) {}

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

  void launchSplat(uint32_t blocks, const SplatArgs &args) override;
  void launchResolve(uint32_t blocks, const ResolveArgs &args) override;
  void launchGenerateGalaxy(uint32_t blocks, const GalaxyArgs &args) override;

  DeviceStatus uploadVolumeConstants(const VolumeConstants &constants) override;
  void launchBounds(uint32_t blocks, const BoundsArgs &args) override;
  void launchLightSplat(uint32_t blocks, const LightSplatArgs &args) override;
  void launchPrefix(uint32_t blocks, const PrefixArgs &args) override;
  void launchCamSplat(uint32_t blocks, const CamSplatArgs &args) override;
  void launchShade(uint32_t blocks, const ShadeArgs &args) override;
  void launchResolveVol(uint32_t blocks, const ResolveVolArgs &args) override;

private:
  int ordinal_;
};

} // namespace ek
