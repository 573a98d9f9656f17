// Context lifetime, version, device description and the error text.
#include <cstdio>
#include <new>

#include "context.h"

namespace {

constexpr const char *kInitFailed = "Could not initialize CUDA device";

} // namespace

extern "C" {

EK_API int32_t ekApiVersion(void) { return EK_API_VERSION; }

EK_API EKContext *ekCreate(int32_t device) {
  EKContext *context = new (std::nothrow) EKContext();
  if (!context)
    return nullptr;
  context->device = device;
  try {
    context->backend =
        device == EK_DEVICE_CPU ? ek::createCpuDevice() : ek::createCudaDevice(device);
  } catch (...) {
    delete context;
    return nullptr;
  }
  ek::Device &backend = *context->backend;
  const bool ready = backend.makeCurrent() == ek::kDeviceOk &&
                     backend.createEvent(&context->startEvent) == ek::kDeviceOk &&
                     backend.createEvent(&context->stopEvent) == ek::kDeviceOk;
  if (!ready)
    context->lastError = kInitFailed;
  return context;
}

EK_API void ekDestroy(EKContext *context) {
  if (!context)
    return;
  ek::Device &backend = *context->backend;
  backend.makeCurrent();
  if (context->startEvent)
    backend.destroyEvent(context->startEvent);
  if (context->stopEvent)
    backend.destroyEvent(context->stopEvent);
  delete context; // frees the buffers, then the backend
}

EK_API const char *ekLastError(EKContext *context) {
  return context ? context->lastError.c_str() : "no context";
}

EK_API int32_t ekDeviceInfo(EKContext *context, char *buffer, int32_t size) {
  if (!context || !buffer || size < 1)
    return 1;
  return ek::guarded(context, "ekDeviceInfo", [&]() -> int32_t {
    ek::DeviceProperties properties;
    if (!ek::checkDevice(context, context->backend->properties(&properties),
                         "cudaGetDeviceProperties"))
      return 1;
    uint64_t freeBytes = 0, totalBytes = 0;
    if (context->backend->memoryInfo(&freeBytes, &totalBytes) != ek::kDeviceOk)
      freeBytes = totalBytes = 0;
    std::snprintf(buffer, size_t(size), "%s | CC %d.%d | VRAM free %.1f / %.1f GB",
                  properties.name.c_str(), properties.major, properties.minor,
                  double(freeBytes) / ek::kBytesPerGigabyte,
                  double(totalBytes) / ek::kBytesPerGigabyte);
    return 0;
  });
}

EK_API uint64_t ekGetCount(EKContext *context) { return context ? context->count : 0; }

} // extern "C"
