// The CUDA backend's memory, events and errors; its launches are in the .cu files.
#include "cuda/cuda_device.h"

#include <cuda_runtime.h>

namespace ek {

CudaDevice::~CudaDevice() {
  // Work still queued on the stream completes before its resources go.
  if (stream_ && cudaSetDevice(ordinal_) == cudaSuccess)
    cudaStreamDestroy(stream_);
}

DeviceStatus CudaDevice::makeCurrent() {
  cudaError_t status = cudaSetDevice(ordinal_);
  if (status == cudaSuccess && !stream_)
    status = cudaStreamCreateWithFlags(&stream_, cudaStreamNonBlocking);
  return status;
}

DeviceStatus CudaDevice::thenSynchronize(cudaError_t status) {
  return status == cudaSuccess ? cudaStreamSynchronize(stream_) : status;
}

DeviceStatus CudaDevice::allocate(void **pointer, uint64_t bytes) {
  *pointer = nullptr;
  return cudaMalloc(pointer, bytes);
}

void CudaDevice::release(void *pointer) { cudaFree(pointer); }

// Both copies return once they are done: the caller may reuse its source (which, were it pinned,
// an asynchronous copy would still be reading) and read its destination.
DeviceStatus CudaDevice::copyToDevice(void *dst, const void *src, uint64_t bytes) {
  return thenSynchronize(cudaMemcpyAsync(dst, src, bytes, cudaMemcpyHostToDevice, stream_));
}

DeviceStatus CudaDevice::copyToHost(void *dst, const void *src, uint64_t bytes) {
  return thenSynchronize(cudaMemcpyAsync(dst, src, bytes, cudaMemcpyDeviceToHost, stream_));
}

DeviceStatus CudaDevice::fill(void *dst, int value, uint64_t bytes) {
  return cudaMemsetAsync(dst, value, bytes, stream_);
}

DeviceStatus CudaDevice::fillAsync(void *dst, int value, uint64_t bytes) {
  return cudaMemsetAsync(dst, value, bytes, stream_);
}

DeviceStatus CudaDevice::memoryInfo(uint64_t *freeBytes, uint64_t *totalBytes) {
  size_t freeMemory = 0, totalMemory = 0;
  const cudaError_t status = cudaMemGetInfo(&freeMemory, &totalMemory);
  *freeBytes = freeMemory;
  *totalBytes = totalMemory;
  return status;
}

int CudaDevice::multiprocessorCount() {
  int count = 0;
  cudaDeviceGetAttribute(&count, cudaDevAttrMultiProcessorCount, ordinal_);
  return count;
}

DeviceStatus CudaDevice::properties(DeviceProperties *out) {
  cudaDeviceProp properties{};
  const cudaError_t status = cudaGetDeviceProperties(&properties, ordinal_);
  if (status == cudaSuccess) {
    out->name = properties.name;
    out->major = properties.major;
    out->minor = properties.minor;
  }
  return status;
}

DeviceStatus CudaDevice::createEvent(DeviceEvent *event) {
  cudaEvent_t created = nullptr;
  const cudaError_t status = cudaEventCreate(&created);
  *event = created;
  return status;
}

void CudaDevice::destroyEvent(DeviceEvent event) { cudaEventDestroy(cudaEvent_t(event)); }

DeviceStatus CudaDevice::recordEvent(DeviceEvent event) {
  return cudaEventRecord(cudaEvent_t(event), stream_);
}

DeviceStatus CudaDevice::synchronizeEvent(DeviceEvent event) {
  return cudaEventSynchronize(cudaEvent_t(event));
}

DeviceStatus CudaDevice::elapsedMs(float *ms, DeviceEvent start, DeviceEvent stop) {
  return cudaEventElapsedTime(ms, cudaEvent_t(start), cudaEvent_t(stop));
}

DeviceStatus CudaDevice::takeLaunchError() { return cudaGetLastError(); }

DeviceStatus CudaDevice::synchronize() { return cudaStreamSynchronize(stream_); }

std::string CudaDevice::errorText(DeviceStatus status) {
  const char *text = cudaGetErrorString(cudaError_t(status));
  return text ? text : "";
}

std::unique_ptr<Device> createCudaDevice(int ordinal) {
  return std::make_unique<CudaDevice>(ordinal);
}

} // namespace ek
