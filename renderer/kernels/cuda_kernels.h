// Launchers of the CUDA kernels, callable from plain C++ (the CUDA device of the backend layer).
#pragma once

#include "kernels/launch_args.h"
#include "kernels/volume_constants.h"

namespace ek::cuda {

void launchSplat(uint32_t blocks, const SplatArgs &args);
void launchResolve(uint32_t blocks, const ResolveArgs &args);
void launchGenerateGalaxy(uint32_t blocks, const GalaxyArgs &args);

int uploadVolumeConstants(const VolumeConstants &constants); // a cudaError_t
void launchBounds(uint32_t blocks, const BoundsArgs &args);
void launchLightSplat(uint32_t blocks, const LightSplatArgs &args);
void launchPrefix(uint32_t blocks, const PrefixArgs &args);
void launchCamSplat(uint32_t blocks, const CamSplatArgs &args);
void launchShade(uint32_t blocks, const ShadeArgs &args);
void launchResolveVol(uint32_t blocks, const ResolveVolArgs &args);

} // namespace ek::cuda
