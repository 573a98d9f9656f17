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

} // namespace ek::host
