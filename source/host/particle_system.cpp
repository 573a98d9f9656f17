#include "host/particle_system.h"

#include "host/connection.h"
#include "host/host_ids.h"

namespace ek::host {

bool ParticleSystem::loadLibrary() {
  return call(&HostApi::particleLibraryLoad, library::kThinkingParticles,
              library::kThinkingParticlesMinimumVersion) != 0;
}

std::optional<ParticleSystem> ParticleSystem::of(const Document &document) {
  auto hook = document.sceneHook(library::kThinkingParticles);
  if (!hook || hook->type() != library::kThinkingParticles) {
    return std::nullopt;
  }
  return ParticleSystem(*hook);
}

int32_t ParticleSystem::count() const { return call(&HostApi::particleCount, master_.handle()); }

bool ParticleSystem::alive(int32_t index) const {
  return call(&HostApi::particleAlive, master_.handle(), index) != 0;
}

Vector ParticleSystem::position(int32_t index) const {
  double xyz[3] = {};
  call(&HostApi::particlePosition, master_.handle(), index, xyz);
  return {xyz[0], xyz[1], xyz[2]};
}

Vector ParticleSystem::velocity(int32_t index) const {
  double xyz[3] = {};
  call(&HostApi::particleVelocity, master_.handle(), index, xyz);
  return {xyz[0], xyz[1], xyz[2]};
}

std::array<float, 3> ParticleSystem::color(int32_t index) const {
  float rgb[3] = {};
  call(&HostApi::particleColor, master_.handle(), index, rgb);
  return {rgb[0], rgb[1], rgb[2]};
}

} // namespace ek::host
