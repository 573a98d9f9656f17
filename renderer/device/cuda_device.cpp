// The CUDA backend: a thin layer over the CUDA runtime. Every call first makes the context's
// device current, since contexts on other devices may have run on this thread meanwhile.
#include <cuda_runtime.h>

#include "device/device.h"
#include "kernels/cuda_kernels.h"

namespace ek {

namespace {

class CudaDevice final : public Device {
public:
  explicit CudaDevice(int ordinal) : ordinal_(ordinal) {}

  DeviceStatus makeCurrent() override { return cudaSetDevice(ordinal_); }
  DeviceStatus allocate(void **pointer, uint64_t bytes) override {
    *pointer = nullptr;
    return cudaMalloc(pointer, bytes);
  }
  void release(void *pointer) override { cudaFree(pointer); }
  DeviceStatus copyToDevice(void *dst, const void *src, uint64_t bytes) override {
    return cudaMemcpy(dst, src, bytes, cudaMemcpyHostToDevice);
  }
  DeviceStatus copyToHost(void *dst, const void *src, uint64_t bytes) override {
    return cudaMemcpy(dst, src, bytes, cudaMemcpyDeviceToHost);
  }
  DeviceStatus fill(void *dst, int value, uint64_t bytes) override {
    return cudaMemset(dst, value, bytes);
  }
  DeviceStatus fillAsync(void *dst, int value, uint64_t bytes) override {
    return cudaMemsetAsync(dst, value, bytes, 0);
  }
  DeviceStatus memoryInfo(uint64_t *freeBytes, uint64_t *totalBytes) override {
    size_t freeMemory = 0, totalMemory = 0;
    const cudaError_t status = cudaMemGetInfo(&freeMemory, &totalMemory);
    *freeBytes = freeMemory;
    *totalBytes = totalMemory;
    return status;
  }
  int multiprocessorCount() override {
    int count = 0;
    cudaDeviceGetAttribute(&count, cudaDevAttrMultiProcessorCount, ordinal_);
    return count;
  }
  DeviceStatus properties(DeviceProperties *out) override {
    cudaDeviceProp properties{};
    const cudaError_t status = cudaGetDeviceProperties(&properties, ordinal_);
    if (status == cudaSuccess) {
      out->name = properties.name;
      out->major = properties.major;
      out->minor = properties.minor;
    }
    return status;
  }
  DeviceStatus createEvent(DeviceEvent *event) override {
    cudaEvent_t created = nullptr;
    const cudaError_t status = cudaEventCreate(&created);
    *event = created;
    return status;
  }
  void destroyEvent(DeviceEvent event) override { cudaEventDestroy(cudaEvent_t(event)); }
  DeviceStatus recordEvent(DeviceEvent event) override {
    return cudaEventRecord(cudaEvent_t(event), 0);
  }
  DeviceStatus synchronizeEvent(DeviceEvent event) override {
    return cudaEventSynchronize(cudaEvent_t(event));
  }
  DeviceStatus elapsedMs(float *ms, DeviceEvent start, DeviceEvent stop) override {
    return cudaEventElapsedTime(ms, cudaEvent_t(start), cudaEvent_t(stop));
  }
  DeviceStatus takeLaunchError() override { return cudaGetLastError(); }
  DeviceStatus synchronize() override { return cudaDeviceSynchronize(); }
  std::string errorText(DeviceStatus status) override {
    const char *text = cudaGetErrorString(cudaError_t(status));
    return text ? text : "";
  }

  void launchSplat(uint32_t blocks, const SplatArgs &args) override {
    cuda::launchSplat(blocks, args);
  }
  void launchResolve(uint32_t blocks, const ResolveArgs &args) override {
    cuda::launchResolve(blocks, args);
  }
  void launchGenerateGalaxy(uint32_t blocks, const GalaxyArgs &args) override {
    cuda::launchGenerateGalaxy(blocks, args);
  }
  DeviceStatus uploadVolumeConstants(const VolumeConstants &constants) override {
    return cuda::uploadVolumeConstants(constants);
  }
  void launchBounds(uint32_t blocks, const BoundsArgs &args) override {
    cuda::launchBounds(blocks, args);
  }
  void launchLightSplat(uint32_t blocks, const LightSplatArgs &args) override {
    cuda::launchLightSplat(blocks, args);
  }
  void launchPrefix(uint32_t blocks, const PrefixArgs &args) override {
    cuda::launchPrefix(blocks, args);
  }
  void launchCamSplat(uint32_t blocks, const CamSplatArgs &args) override {
    cuda::launchCamSplat(blocks, args);
  }
  void launchShade(uint32_t blocks, const ShadeArgs &args) override {
    cuda::launchShade(blocks, args);
  }
  void launchResolveVol(uint32_t blocks, const ResolveVolArgs &args) override {
    cuda::launchResolveVol(blocks, args);
  }

private:
  int ordinal_;
};

} // namespace

std::unique_ptr<Device> createCudaDevice(int ordinal) {
  return std::make_unique<CudaDevice>(ordinal);
}

} // namespace ek
