// The renderer context behind the opaque EKContext handle, and the error conventions every
// exported function follows.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "device.h"
#include "device_buffer.h"
#include "emberkit.h"
#include "kernels/frame.h"

namespace ek {

constexpr int kBoundsFloats = 8; // 7 used; the buffer is 32 bytes
constexpr int kMoments = 7;      // sums of x, y, z and of their squares, and the particles measured

// A measure of the cloud (bounds, largest squared speed, moments) kept on the host with what it
// was made of: the particles' edition and the velocities read.
struct KeptCloudMeasure {
  bool valid = false;
  uint64_t edition = 0;
  const EKV3 *velocities = nullptr;
  float bounds[kBoundsFloats] = {};
  double moments[kMoments] = {};
};

} // namespace ek

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
  // Counts the changes of the particles (their values or their number), so that what is worked
  // out from them can be kept while they stay the same.
  uint64_t particleEdition = 0;

  ek::DeviceBuffer<Rgba32f> accumulator;
  ek::DeviceBuffer<Rgba8> image;
  ek::DeviceBuffer<Rgba32f> imageFloat;
  int32_t imageWidth = 0;
  int32_t imageHeight = 0;
  ek::DeviceBuffer<ek::MapCell> shadowMaps;
  ek::DeviceBuffer<ek::MapCell> cameraDepth;
  ek::DeviceBuffer<float> totalDepth;
  ek::DeviceBuffer<float> bounds;
  ek::DeviceBuffer<double> moments;
  // The additive look's layered renders measure the cloud for their depth range only; a render
  // of unchanged particles takes the last such measure.
  ek::KeptCloudMeasure depthMeasure;
  // A layered render's sums per pixel and, on a GPU, its layer images before their download.
  ek::DeviceBuffer<float> layerSums;
  ek::DeviceBuffer<float> layerImages;

  ek::DeviceEvent startEvent = nullptr;
  ek::DeviceEvent stopEvent = nullptr;
  std::string lastError;
  // The text ekLastError handed to each thread that asked: a copy per thread, so that another
  // thread's failure cannot free the text a caller is still reading.
  std::map<std::thread::id, std::string> errorCopies;

  // Held for the whole of every call on the context (see ek::serialized).
  std::mutex callLock;
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
bool splatWork(EKContext *context, const Frame &frame, uint64_t count, uint64_t &work);

// Stores "name: text" as the context's last error; never throws (a heap too exhausted to build
// the text leaves the previous text in place).
void setFailure(EKContext *context, const char *name, const char *text) noexcept;

// Makes the context's device current on the calling thread; on failure stores "name: make device
// current: DESCRIPTION" and returns false.
bool makeDeviceCurrent(EKContext *context, const char *name);

// Runs an exported function's body so that no exception leaves it. A failure is stored under
// `name`: "out of host memory" for an exhausted heap, the text of any other standard exception,
// "unexpected failure (unknown exception)" for anything else; the result is then 1.
template <typename Body> int32_t guarded(EKContext *context, const char *name, Body &&body) {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    setFailure(context, name, "out of host memory");
  } catch (const std::exception &error) {
    setFailure(context, name, error.what());
  } catch (...) {
    setFailure(context, name, "unexpected failure (unknown exception)");
  }
  return 1;
}

// The way into the context: the body runs while the context's lock is held, so calls on one
// context from several threads run one after another (a second caller waits) and never see each
// other's half-made buffers. A null context answers `absent` at once. Bodies must not enter again:
// internal steps call each other, not the exports. Only the exports that read what the context
// holds on the host (its count, its last error) come in this way alone; every other one comes
// through enter.
template <typename Result, typename Body>
Result serialized(EKContext *context, Result absent, Body &&body) {
  if (!context)
    return absent;
  std::lock_guard<std::mutex> hold(context->callLock);
  return body();
}

// The entry of the exports with a status result, and the one place where they make the device
// current (ekCreate and ekDestroy, which take no lock, do it themselves): serialized, then
// guarded under `name`; the body runs only once the context's device is current on the calling
// thread, so nothing reaches the device when that fails.
template <typename Body> int32_t enter(EKContext *context, const char *name, Body &&body) {
  return serialized<int32_t>(context, 1, [&] {
    return guarded(context, name,
                   [&]() -> int32_t { return makeDeviceCurrent(context, name) ? body() : 1; });
  });
}

// ekCreate's work once the backend is made: a context on `backend`, whose last error says "Could
// not initialize CUDA device" when the backend cannot start; null when the host is out of memory.
EKContext *createContext(int32_t device, std::unique_ptr<Device> backend);

// Makes room for `capacity` particles; ekReserve's work, for the exports that reserve on the way.
int32_t reserveParticles(EKContext *context, uint64_t capacity, bool withVelocity);

} // namespace ek
