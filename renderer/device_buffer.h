// An allocation on a context's device that owns itself: its pointer, its size in elements and the
// backend that frees it. It is freed when dropped, replaced or destroyed, so the context keeps no
// lists of what to free.
#pragma once

#include <cstdint>

#include "device.h"

namespace ek {

template <typename T> class DeviceBuffer {
public:
  DeviceBuffer() = default;
  DeviceBuffer(const DeviceBuffer &) = delete;
  DeviceBuffer &operator=(const DeviceBuffer &) = delete;
  ~DeviceBuffer() { reset(); }

  T *get() const { return pointer_; }
  uint64_t size() const { return size_; } // elements
  explicit operator bool() const { return pointer_ != nullptr; }

  // Frees the allocation; the buffer is empty afterwards.
  void reset() {
    if (device_)
      device_->release(pointer_);
    pointer_ = nullptr;
    size_ = 0;
    device_ = nullptr;
  }

  // Replaces the allocation by one of `count` elements on `device`. On failure the buffer is
  // empty. A byte size beyond 64 bits fails like any allocation that does not fit.
  DeviceStatus allocate(Device &device, uint64_t count) {
    reset();
    const uint64_t bytes = count > UINT64_MAX / sizeof(T) ? UINT64_MAX : count * sizeof(T);
    void *pointer = nullptr;
    const DeviceStatus status = device.allocate(&pointer, bytes);
    if (status != kDeviceOk)
      return status;
    pointer_ = static_cast<T *>(pointer);
    size_ = count;
    device_ = &device;
    return kDeviceOk;
  }

private:
  T *pointer_ = nullptr;
  uint64_t size_ = 0;
  Device *device_ = nullptr;
};

} // namespace ek
