// The CUDA backend: a thin layer over the CUDA runtime. Every call first makes the context's
// device current, since contexts on other devices may have run on this thread meanwhile. Each
// device owns a stream, and every copy, fill, launch, event and synchronisation of it goes on that
// stream, so contexts sharing a GPU neither wait for nor time each other's work.
#include <cuda_runtime.h>

#include "cuda/cuda_launch.h"
#include "device.h"

namespace ek {

namespace {

class CudaDevice final : public Device {
public:
  explicit CudaDevice(int ordinal) : ordinal_(ordinal) {}
  ~CudaDevice() override {
    // Work still queued on the stream completes before its resources go.
    if (stream_ && cudaSetDevice(ordinal_) == cudaSuccess) {
      scratch_.release();
      cudaStreamDestroy(stream_);
    }
  }
  CudaDevice(const CudaDevice &) = delete;
  CudaDevice &operator=(const CudaDevice &) = delete;

  // Also makes the stream, the first time the device can be made current.
  DeviceStatus makeCurrent() override {
    cudaError_t status = cudaSetDevice(ordinal_);
    if (status != cudaSuccess || stream_)
      return status;
    cudaStream_t created = nullptr;
    // Non-blocking: it never waits for work that other code queues on the default stream.
    status = cudaStreamCreateWithFlags(&created, cudaStreamNonBlocking);
    if (status == cudaSuccess)
      stream_ = created;
    return status;
  }

  DeviceStatus allocate(void **pointer, uint64_t bytes) override {
    *pointer = nullptr;
    return cudaMalloc(pointer, bytes);
  }
  void release(void *pointer) override { cudaFree(pointer); }

  // Both copies return once they are done: the caller may reuse its source (which, were it
  // pinned, an asynchronous copy would still be reading) and read its destination.
  DeviceStatus copyToDevice(void *dst, const void *src, uint64_t bytes) override {
    return thenSynchronize(cudaMemcpyAsync(dst, src, bytes, cudaMemcpyHostToDevice, stream_));
  }
  DeviceStatus copyToHost(void *dst, const void *src, uint64_t bytes) override {
    return thenSynchronize(cudaMemcpyAsync(dst, src, bytes, cudaMemcpyDeviceToHost, stream_));
  }
  DeviceStatus fill(void *dst, int value, uint64_t bytes) override {
    return cudaMemsetAsync(dst, value, bytes, stream_);
  }
  DeviceStatus fillAsync(void *dst, int value, uint64_t bytes) override {
    return cudaMemsetAsync(dst, value, bytes, stream_);
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
    return cudaEventRecord(cudaEvent_t(event), stream_);
  }
  DeviceStatus synchronizeEvent(DeviceEvent event) override {
    return cudaEventSynchronize(cudaEvent_t(event));
  }
  DeviceStatus elapsedMs(float *ms, DeviceEvent start, DeviceEvent stop) override {
    return cudaEventElapsedTime(ms, cudaEvent_t(start), cudaEvent_t(stop));
  }

  // A launch whose scratch could not be had reports that before any later launch's error.
  DeviceStatus takeLaunchError() override {
    const cudaError_t last = cudaGetLastError();
    const cudaError_t scratch = scratchError_;
    scratchError_ = cudaSuccess;
    return scratch != cudaSuccess ? scratch : last;
  }
  DeviceStatus synchronize() override { return cudaStreamSynchronize(stream_); }
  std::string errorText(DeviceStatus status) override {
    const char *text = cudaGetErrorString(cudaError_t(status));
    return text ? text : "";
  }

  void launch(uint32_t blocks, const KernelArgs &args) override {
    const cudaError_t status = cuda::launchKernel(stream_, blocks, args, scratch_);
    if (status != cudaSuccess && scratchError_ == cudaSuccess)
      scratchError_ = status;
  }

private:
  // Waits for the stream when `status` says the call before succeeded.
  DeviceStatus thenSynchronize(cudaError_t status) {
    return status == cudaSuccess ? cudaStreamSynchronize(stream_) : status;
  }

  int ordinal_;
  cudaStream_t stream_ = nullptr;
  cuda::LaunchScratch scratch_;
  cudaError_t scratchError_ = cudaSuccess;
};

} // namespace

std::unique_ptr<Device> createCudaDevice(int ordinal) {
  return std::make_unique<CudaDevice>(ordinal);
}

} // namespace ek
