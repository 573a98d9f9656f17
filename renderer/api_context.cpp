// Context lifetime, version, device description and the error text.
#include <cstdio>
#include <new>

#include "context.h"

namespace {

constexpr const char *kInitFailed = "Could not initialize CUDA device";

} // namespace

EKContext *ek::createContext(int32_t device, std::unique_ptr<Device> backend) {
  EKContext *context = new (std::nothrow) EKContext();
  if (!context)
    return nullptr;
  context->device = device;
  context->backend = std::move(backend);
  const bool ready = context->backend->makeCurrent() == kDeviceOk &&
                     context->backend->createEvent(&context->startEvent) == kDeviceOk &&
                     context->backend->createEvent(&context->stopEvent) == kDeviceOk;
  if (!ready)
    context->lastError = kInitFailed;
  return context;
}

extern "C" {

EK_API int32_t ekApiVersion(void) { return EK_API_VERSION; }

EK_API EKContext *ekCreate(int32_t device) {
  std::unique_ptr<ek::Device> backend;
  try {
    backend = device == EK_DEVICE_CPU ? ek::createCpuDevice() : ek::createCudaDevice(device);
  } catch (...) {
    return nullptr;
  }
  return ek::createContext(device, std::move(backend));
}

// Takes no lock: a lock kept in the context cannot guard its own destruction, so the caller makes
// sure that no other call on the context runs or follows.
EK_API void ekDestroy(EKContext *context) {
  if (!context)
    return;
  ek::Device &backend = *context->backend;
  // The events and buffers belong to the context's device. A failure to select it cannot be
  // reported (the context goes with this call), and freeing goes ahead regardless.
  backend.makeCurrent();
  if (context->startEvent)
    backend.destroyEvent(context->startEvent);
  if (context->stopEvent)
    backend.destroyEvent(context->stopEvent);
  delete context; // frees the buffers, then the backend
}

EK_API const char *ekLastError(EKContext *context) {
  return ek::serialized<const char *>(context, "no context", [&]() -> const char * {
    try {
      std::string &copy = context->errorCopies[std::this_thread::get_id()];
      copy = context->lastError;
      return copy.c_str();
    } catch (...) {
      return "ekLastError: out of host memory";
    }
  });
}

EK_API int32_t ekDeviceInfo(EKContext *context, char *buffer, int32_t size) {
  return ek::enter(context, "ekDeviceInfo", [&]() -> int32_t {
    if (!buffer || size < 1)
      return 1;
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

EK_API uint64_t ekGetCount(EKContext *context) {
  return ek::serialized<uint64_t>(context, 0, [&] { return context->count; });
}

} // extern "C"
