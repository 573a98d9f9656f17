// The renderer context behind the opaque EKContext handle, and the error conventions every
// exported function follows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device.h"
#include "device_buffer.h"
#include "emberkit.h"
#include "kernels/frame.h"

struct EKContext {
  int32_t device = 0;
  std::unique_ptr<ek::Device> backend;

  // The buffers are freed before the backend that holds them (members are destroyed in reverse).
  ek::DeviceBuffer<EKV3> positions;
  ek::DeviceBuffer<Rgba8> colors;
  ek::DeviceBuffer<EKV3> velocities;
  bool hasVelocityBuffer = false;
  bool velocitiesValid = false;
  uint64_t capacity = 0;
  uint64_t count = 0;

  ek::DeviceBuffer<Rgba32f> accumulator;
  ek::DeviceBuffer<Rgba8> image;
  ek::DeviceBuffer<Rgba32f> imageFloat;
  int32_t imageWidth = 0;
  int32_t imageHeight = 0;
  ek::DeviceBuffer<float> shadowMaps;
  ek::DeviceBuffer<float> cameraDepth;
  ek::DeviceBuffer<float> totalDepth;
  ek::DeviceBuffer<float> bounds;
  ek::DeviceBuffer<double> moments;

  ek::DeviceEvent startEvent = nullptr;
  ek::DeviceEvent stopEvent = nullptr;
  std::string lastError;
};

namespace ek {

constexpr double kBytesPerGigabyte = 1073741824.0; // 2^30, for the memory figures of messages

// Replaces the context's last error (contexts may be null: then nothing is stored).
void setError(EKContext *context, const std::string &text);

// The shared check of every device call: on failure stores "label: description" and returns
// false; on success leaves the last error alone and returns true. It serves both backends.
bool checkDevice(EKContext *context, DeviceStatus status, const char *label);

// Where the context keeps its buffers, for messages: "VRAM" or "host memory".
const char *memoryName(const EKContext *context);

// The label of a failed allocation of the named buffer: "cudaMalloc NAME" or "allocate NAME".
std::string allocationLabel(const EKContext *context, const char *name);

// Replaces `buffer` by `count` elements of device memory for the named buffer. On failure stores
// "cudaMalloc NAME: " (on the CPU "allocate NAME: ") and the backend's description, and returns
// false with the buffer empty.
template <typename T>
bool allocate(EKContext *context, DeviceBuffer<T> &buffer, uint64_t count, const char *name) {
  return checkDevice(context, buffer.allocate(*context->backend, count),
                     allocationLabel(context, name).c_str());
}

// Blocks of blockSize threads that give each of n items a thread: ceil(n / blockSize), at least 1.
uint64_t blocksCovering(uint64_t n, uint32_t blockSize);

// Grid size of the grid-stride launches: blocksCovering, at most 32 per multiprocessor (64
// multiprocessors assumed when the device does not tell).
uint32_t blocksFor(Device &device, uint64_t n, uint32_t blockSize);
uint32_t blocksForMultiprocessors(uint64_t n, uint32_t blockSize, int multiprocessors);

// Work items of a splatting pass of `frame` over `count` particles: particles x copies x samples.
// When that does not fit in 64 bits, stores the failure and returns false.
bool splatWork(EKContext *context, const EKFrame &frame, uint64_t count, uint64_t &work);

// Runs an exported function's body so that no exception leaves it: an exhausted host heap becomes
// the failure "name: out of host memory".
template <typename Body> int32_t guarded(EKContext *context, const char *name, Body &&body) {
  try {
    return body();
  } catch (...) {
    try {
      setError(context, std::string(name) + ": out of host memory");
    } catch (...) {
    }
    return 1;
  }
}

} // namespace ek
