// Reading the host's living particles into staging arrays and handing them to the renderer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ekpreview/language.h"
#include "ekpreview/renderer_binding.h"
#include "host/particle_system.h"

namespace ek::plugin {

// What the last particle read left behind. The staging arrays keep their memory between reads
// (they are resized to the exact length, never shrunk), so a steady scene allocates nothing.
struct ParticleUpload {
  std::vector<EKV3> stagedPositions;  // in the renderer's frame
  std::vector<uint8_t> stagedColors;  // red, green, blue, alpha per particle
  std::vector<EKV3> stagedVelocities; // per frame; filled only when velocities are read
  int64_t reservedCapacity = 0;       // capacity of the renderer context's last reservation
  bool reservedWithVelocities = false;
  int64_t particleCount = 0; // uploaded by the last successful read
  int32_t uploadGeneration = 0;
  double readMs = 0.0;
  double uploadMs = 0.0;
  double meanSpeedRaw = 0.0; // host units per second

  // The context that held the reservation is gone: the next read reserves again.
  void forgetReservation() {
    reservedCapacity = 0;
    reservedWithVelocities = false;
  }
};

// Where the particles go.
struct RendererTarget {
  const RendererBinding &binding;
  EKContext *context;
};

// Reads every living particle of the system (none without a system) in host index order, packs
// them without gaps, grows the renderer's reservation by 25 % plus 1024 particles when needed,
// uploads them in one call and sets the count. Positions and velocities have z negated; the
// velocities are multiplied by velocityScale (1 / frame rate) to become displacement per frame.
// Returns the failure message in the language (without the error mark), or nothing on success.
//
// Particles whose position is not finite in single precision (an infinity, not-a-number, or a
// finite value beyond the float range) cannot be drawn and are left out, so the count is what is
// drawn; a velocity that is not finite in either precision counts as standing still and a
// not-a-number colour channel as 0, so that one broken particle cannot spoil the picture or the
// statistics.
std::optional<std::string> readParticles(ParticleUpload &upload, RendererTarget renderer,
                                         const std::optional<host::ParticleSystem> &system,
                                         bool withVelocities, double velocityScale,
                                         Language language);

// The renderer's reservation for `count` particles: 25 % headroom plus 1024.
constexpr int64_t reservationFor(int64_t count) { return count + count / 4 + 1024; }

} // namespace ek::plugin
