// Launchers of the CUDA kernels, callable from plain C++ (the CUDA device of the backend layer).
#pragma once

#include "kernels/launch_args.h"

namespace ek::cuda {

void launchSplat(uint32_t blocks, const SplatArgs& args);
void launchResolve(uint32_t blocks, const ResolveArgs& args);
void launchGenerateGalaxy(uint32_t blocks, const GalaxyArgs& args);

} // namespace ek::cuda
