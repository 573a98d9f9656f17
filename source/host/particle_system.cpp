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

bool ParticleSystem::position(int32_t index, Vector &xyz) const {
  return call(&HostApi::particlePosition, master_.handle(), index, xyz.data()) != 0;
}

bool ParticleSystem::velocity(int32_t index, Vector &xyz) const {
  return call(&HostApi::particleVelocity, master_.handle(), index, xyz.data()) != 0;
}

bool ParticleSystem::color(int32_t index, std::array<float, 3> &rgb) const {
  return call(&HostApi::particleColor, master_.handle(), index, rgb.data()) != 0;
}

} // namespace ek::host
