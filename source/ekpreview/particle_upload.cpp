#include "ekpreview/particle_upload.h"

#include <cmath>

#include "ekpreview/buffer_size.h"
#include "ekpreview/texts.h"
#include "host/state.h"
#include "host/text.h"

namespace ek::plugin {

namespace {

constexpr uint8_t kOpaque = 255;
constexpr size_t kBytesPerColor = 4;

// Clamped to 0..1, scaled to 255 and truncated: 0.5 gives 127, 1 gives 255, not-a-number 0.
uint8_t colorByte(float channel) {
  if (!(channel > 0.0f)) {
    return 0;
  }
  return channel >= 1.0f ? uint8_t(255) : uint8_t(channel * 255.0f);
}

bool finite(const EKV3 &v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The renderer's frame: z negated, single precision; a host value beyond the float range
// becomes an infinity.
EKV3 rendererVector(const host::Vector &v, double scale) {
  return {float(v[0] * scale), float(v[1] * scale), float(-v[2] * scale)};
}

std::string renderError(RendererTarget renderer) {
  const char *text = renderer.binding.lastError(renderer.context);
  return text ? text : "";
}

// Sizes the staging arrays for n particles; false when memory runs out.
bool resizeStaging(ParticleUpload &upload, size_t n, bool withVelocities) {
  return tryResize(upload.stagedPositions, n) &&
         tryResize(upload.stagedColors, n * kBytesPerColor) &&
         (!withVelocities || tryResize(upload.stagedVelocities, n));
}

} // namespace

std::optional<std::string> readParticles(ParticleUpload &upload, RendererTarget renderer,
                                         const std::optional<host::ParticleSystem> &system,
                                         bool withVelocities, double velocityScale,
                                         Language language) {
  const double t0 = host::milliseconds();
  const int32_t n = system ? std::max(system->count(), 0) : 0;
  if (n > 0 && !resizeStaging(upload, size_t(n), withVelocities)) {
    return pick(text::kOutOfMemory, language);
  }

  EKV3 *positions = upload.stagedPositions.data();
  uint8_t *colors = upload.stagedColors.data();
  EKV3 *velocities = withVelocities ? upload.stagedVelocities.data() : nullptr;
  double speedSum = 0.0;
  int64_t i = 0;
  host::Vector p{}, v{};
  std::array<float, 3> rgb{};
  for (int32_t j = 0; j < n; ++j) {
    if (!system->alive(j)) {
      continue;
    }
    if (!system->position(j, p) || !system->color(j, rgb) ||
        (withVelocities && !system->velocity(j, v))) {
      return host::substitute(pick(text::kParticleNotRead, language),
                              {std::to_string(int64_t(j) + 1), std::to_string(n)});
    }
    // Judged in the renderer's precision: a finite double that overflows a float is as
    // undrawable as an infinity and must not be counted either.
    const EKV3 position = rendererVector(p, 1.0);
    if (!finite(position)) {
      continue;
    }
    positions[i] = position;
    uint8_t *color = colors + i * kBytesPerColor;
    color[0] = colorByte(rgb[0]);
    color[1] = colorByte(rgb[1]);
    color[2] = colorByte(rgb[2]);
    color[3] = kOpaque;
    if (velocities) {
      const double speed = std::hypot(v[0], v[1], v[2]);
      const EKV3 velocity = rendererVector(v, velocityScale);
      const bool usable = std::isfinite(speed) && finite(velocity);
      speedSum += usable ? speed : 0.0;
      velocities[i] = usable ? velocity : EKV3{0.0f, 0.0f, 0.0f};
    }
    ++i;
  }
  const double t1 = host::milliseconds();

  if (i > upload.reservedCapacity || (withVelocities && !upload.reservedWithVelocities)) {
    const int64_t capacity = reservationFor(i);
    if (renderer.binding.reserve(renderer.context, uint64_t(capacity), withVelocities ? 1 : 0) !=
        0) {
      return renderError(renderer);
    }
    upload.reservedCapacity = capacity;
    upload.reservedWithVelocities = withVelocities;
  }
  if (i >= 1 && renderer.binding.upload(renderer.context, positions, colors, velocities,
                                        uint64_t(i), 0) != 0) {
    return renderError(renderer);
  }
  if (renderer.binding.setCount(renderer.context, uint64_t(i)) != 0) {
    return renderError(renderer);
  }
  const double t2 = host::milliseconds();

  upload.particleCount = i;
  upload.readMs = t1 - t0;
  upload.uploadMs = t2 - t1;
  upload.meanSpeedRaw = withVelocities && i >= 1 ? speedSum / double(i) : 0.0;
  ++upload.uploadGeneration;
  return std::nullopt;
}

} // namespace ek::plugin
