// The particle arrays of a context: reservation, uploads and the drawn count.
#include <cstdio>
#include <limits>

#include "context.h"

namespace {

constexpr uint64_t kBytesWithoutVelocity = 16; // position 12 + colour 4
constexpr uint64_t kBytesWithVelocity = 28;    // plus velocity 12
constexpr uint64_t kMemoryReserve = 536870912; // 512 MiB left free for everything else

void releaseParticles(EKContext *context) {
  context->positions.reset();
  context->colors.reset();
  context->velocities.reset();
  context->capacity = 0;
  context->count = 0;
  context->hasVelocityBuffer = false;
  context->velocitiesValid = false;
  ++context->particleEdition;
}

// Refuses a reservation that would not leave the memory reserve free. Sizes are checked before
// they are multiplied, so absurd requests are refused instead of wrapping around.
bool memoryCheck(EKContext *context, uint64_t n, bool withVelocity) {
  const uint64_t perParticleHeld =
      context->hasVelocityBuffer ? kBytesWithVelocity : kBytesWithoutVelocity;
  const uint64_t perParticle = withVelocity ? kBytesWithVelocity : kBytesWithoutVelocity;
  uint64_t freeBytes = 0, totalBytes = 0;
  if (context->backend->memoryInfo(&freeBytes, &totalBytes) != ek::kDeviceOk)
    freeBytes = 0;
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  const uint64_t held = perParticleHeld * context->capacity; // fits: it was allocated
  const uint64_t available = freeBytes > kMax - held ? kMax : freeBytes + held;
  const bool fits =
      n <= (kMax - kMemoryReserve) / perParticle && perParticle * n + kMemoryReserve <= available;
  if (fits)
    return true;
  const double needed = double(n) * double(perParticle) / ek::kBytesPerGigabyte;
  const double left =
      available > kMemoryReserve ? double(available - kMemoryReserve) / ek::kBytesPerGigabyte : 0.0;
  char text[256];
  std::snprintf(text, sizeof text, "Not enough %s: needs %.2f GB, approx. %.2f GB available",
                ek::memoryName(context), needed, left);
  ek::setError(context, text);
  return false;
}

} // namespace

int32_t ek::reserveParticles(EKContext *context, uint64_t n, bool withVelocity) {
  if (n <= context->capacity && (!withVelocity || context->hasVelocityBuffer))
    return 0;
  if (!memoryCheck(context, n, withVelocity))
    return 1;
  releaseParticles(context);
  if (!allocate(context, context->positions, n, "positions") ||
      !allocate(context, context->colors, n, "colors"))
    return 1;
  if (withVelocity) {
    if (!allocate(context, context->velocities, n, "velocity"))
      return 1;
    context->hasVelocityBuffer = true;
  }
  context->capacity = n;
  return 0;
}

extern "C" {

EK_API int32_t ekReserve(EKContext *context, uint64_t n, int32_t withVelocity) {
  return ek::enter(context, "ekReserve",
                   [&] { return ek::reserveParticles(context, n, withVelocity != 0); });
}

EK_API int32_t ekUpload(EKContext *context, const EKV3 *positions, const uint8_t *colors,
                        const EKV3 *velocities, uint64_t n, uint64_t first) {
  return ek::enter(context, "ekUpload", [&]() -> int32_t {
    if (!positions) {
      ek::setError(context, "ekUpload: invalid parameters");
      return 1;
    }
    // first + n > capacity, written so that it cannot wrap.
    if (n > context->capacity || first > context->capacity - n) {
      ek::setError(context, "ekUpload: capacity exceeded (call ekReserve first)");
      return 1;
    }
    if (velocities && !context->hasVelocityBuffer) {
      ek::setError(context, "ekUpload: velocity passed but reserved without velocity");
      return 1;
    }
    ++context->particleEdition; // even an upload that fails part way may have changed some
    ek::Device &backend = *context->backend;
    if (!ek::checkDevice(
            context,
            backend.copyToDevice(context->positions.get() + first, positions, n * sizeof(EKV3)),
            "upload positions"))
      return 1;
    if (colors) {
      if (!ek::checkDevice(
              context,
              backend.copyToDevice(context->colors.get() + first, colors, n * sizeof(Rgba8)),
              "upload colors"))
        return 1;
    } else if (!ek::checkDevice(context,
                                backend.fill(context->colors.get() + first, 255, n * sizeof(Rgba8)),
                                "set colors to white")) {
      return 1;
    }
    if (context->hasVelocityBuffer) {
      EKV3 *target = context->velocities.get() + first;
      if (velocities) {
        if (!ek::checkDevice(context, backend.copyToDevice(target, velocities, n * sizeof(EKV3)),
                             "upload velocity"))
          return 1;
      } else if (!ek::checkDevice(context, backend.fill(target, 0, n * sizeof(EKV3)),
                                  "clear velocity")) {
        return 1;
      }
    }
    if (first == 0)
      context->velocitiesValid = velocities != nullptr;
    if (first + n > context->count)
      context->count = first + n;
    return 0;
  });
}

EK_API int32_t ekSetCount(EKContext *context, uint64_t n) {
  return ek::enter(context, "ekSetCount", [&]() -> int32_t {
    if (n > context->capacity) {
      ek::setError(context, "ekSetCount: larger than capacity");
      return 1;
    }
    context->count = n;
    ++context->particleEdition;
    return 0;
  });
}

} // extern "C"
