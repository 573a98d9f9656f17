// ekGenerateTestCloud: fills the particle buffers with the procedural galaxy.
#include "context.h"

extern "C" EK_API int32_t ekGenerateTestCloud(EKContext *context, uint64_t n, uint32_t seed,
                                              int32_t withVelocity) {
  return ek::enter(context, "ekGenerateTestCloud", [&]() -> int32_t {
    if (ek::reserveParticles(context, n, withVelocity != 0) != 0)
      return 1;
    ++context->particleEdition;
    ek::Device &backend = *context->backend;
    backend.launch(ek::blocksFor(backend, n, ek::kBlockSize),
                   ek::GalaxyArgs{context->positions.get(), context->colors.get(),
                                  withVelocity ? context->velocities.get() : nullptr, n, seed});
    if (!ek::checkDevice(context, backend.takeLaunchError(), "launch generator kernel") ||
        !ek::checkDevice(context, backend.synchronize(), "run generator kernel"))
      return 1;
    context->count = n;
    context->velocitiesValid = withVelocity != 0;
    return 0;
  });
}
