// The CPU backend: device memory is host memory, kernels run the shared item functions on a worker
// pool, and launches complete before they return (so events time the work itself).
#pragma once

#include <chrono>
#include <vector>

#include "cpu/cpu_memory.h"
#include "cpu/cpu_vector_paths.h"
#include "cpu/kept_camera_samples.h"
#include "cpu/kept_lookups.h"
#include "cpu/layer_part_sums.h"
#include "cpu/page_array.h"
#include "cpu/private_image.h"
#include "cpu/spatial_order.h"
#include "cpu/worker_pool.h"
#include "device.h"

namespace ek {

// Status codes of the CPU backend; the values and texts follow the CUDA runtime's.
enum CpuStatus : DeviceStatus {
  kCpuInvalidValue = 1,
  kCpuOutOfMemory = 2,
  kCpuInvalidConfiguration = 9,
  kCpuInvalidHandle = 400,
  kCpuNotReady = 600,
};

class CpuDevice final : public Device {
public:
  // `vector` names the vectorised paths the kernels may take (see detectCpuFeatures).
  CpuDevice(unsigned workers, const VectorPaths &vector);

  DeviceStatus makeCurrent() override { return kDeviceOk; }
  DeviceStatus allocate(void **pointer, uint64_t bytes) override;
  void release(void *pointer) override;
  DeviceStatus copyToDevice(void *dst, const void *src, uint64_t bytes) override;
  DeviceStatus copyToHost(void *dst, const void *src, uint64_t bytes) override;
  DeviceStatus fill(void *dst, int value, uint64_t bytes) override;
  DeviceStatus fillAsync(void *dst, int value, uint64_t bytes) override;
  DeviceStatus memoryInfo(uint64_t *freeBytes, uint64_t *totalBytes) override;
  bool usesHostMemory() const override { return true; }
  int multiprocessorCount() override { return int(pool_.size()); }
  DeviceStatus properties(DeviceProperties *out) override;
  DeviceStatus createEvent(DeviceEvent *event) override;
  void destroyEvent(DeviceEvent event) override;
  DeviceStatus recordEvent(DeviceEvent event) override;
  DeviceStatus synchronizeEvent(DeviceEvent event) override;
  DeviceStatus elapsedMs(float *ms, DeviceEvent start, DeviceEvent stop) override;
  DeviceStatus takeLaunchError() override;
  DeviceStatus synchronize() override { return kDeviceOk; }
  std::string errorText(DeviceStatus status) override;

  void launch(uint32_t blocks, const KernelArgs &args) override;

  // The dirty tiles of the allocation holding `address` (untracked for other memory).
  DirtyTiles memoryTiles(const void *address) const { return memory_.tilesOf(address); }

private:
  // The kernels, one for each argument record; `blocks` limits the resolves' pixels as a grid
  // would. They are defined in cpu_kernels.cpp, cpu_volume_kernels.cpp and
  // cpu_layer_kernels.cpp.
  void run(uint32_t blocks, const SplatArgs &args);
  void run(uint32_t blocks, const ResolveArgs &args);
  void run(uint32_t blocks, const GalaxyArgs &args);
  void run(uint32_t blocks, const BoundsArgs &args);
  void run(uint32_t blocks, const LightSplatArgs &args);
  void run(uint32_t blocks, const PrefixArgs &args);
  void run(uint32_t blocks, const CamSplatArgs &args);
  void run(uint32_t blocks, const ShadeArgs &args);
  void run(uint32_t blocks, const ResolveVolArgs &args);
  void run(uint32_t blocks, const ResolveLayersArgs &args);
  void run(uint32_t blocks, const AdditiveLayerSplatArgs &args);
  void run(uint32_t blocks, const ResolveAdditiveLayersArgs &args);

  // The shading pass over the work items [begin, end), into `batch`, each sample shaded by
  // `shade`.
  template <typename Batch, typename Shade>
  void shadeRange(const ShadeArgs &a, const uint32_t *order, uint64_t begin, uint64_t end,
                  Batch &batch, Shade &&shade) const;
  // The spatial visiting order made by the last bounds pass, when it belongs to these particles
  // and this much work; null otherwise (then the items run in index order).
  const uint32_t *spatialOrderFor(const EKV3 *positions, const Frame &frame, uint64_t total) const;
  // The position of every copy of the particles in visiting order (slot * copies + copy), made
  // once per frame for the passes that follow the bounds pass; they would otherwise each work
  // out the copies' offsets again for every sample. makeCopyPositions needs the spatial order
  // of the particles being rendered; copyPositions is null where they were not made for `frame`.
  void makeCopyPositions(const Frame &frame);
  // The offsets of the repopulated copies of particles [0, particles) for the frame's radius: they
  // depend on neither the positions nor the time, so a frame works out only those of particles
  // the frames before it did not have. False where they cannot be had.
  bool makeCopyOffsets(const Frame &frame, uint64_t particles);
  const EKV3 *copyPositions(const Frame &frame) const;

  WorkerPool pool_;
  CpuMemory memory_;
  const VectorPaths vector_;
  DeviceStatus launchError_ = kDeviceOk;
  // Per-worker accumulation images of the splat and shading passes, kept between launches.
  std::vector<PrivateImage> privateImages_;
  // The private layer sums of a layered render's shading parts, kept between launches.
  LayerPartSums layerPartSums_;
  // Particles in Morton order, made by the bounds pass that opens every volumetric render.
  SpatialOrder spatialOrder_;
  PageArray<EKV3> orderedPositions_;  // positions[order[s]] at s
  PageArray<Rgba8> orderedColors_;    // the shading pass's colours, in the same order
  PageArray<EKV3> orderedVelocities_; // a layered shading's velocities, in the same order
  const EKV3 *spatialOrderPositions_ = nullptr;
  PageArray<EKV3> copyPositions_;
  bool copyPositionsMade_ = false; // for the frame's copies below, since the last bounds pass
  int32_t copiesRepopulation_ = 0;
  float copiesRadius_ = 0.0f;
  std::vector<EKV3> copyOffsets_; // copies 1 .. repopulation of each particle, one after the other
  uint64_t offsetParticles_ = 0;  // the particles copyOffsets_ holds
  int32_t offsetsRepopulation_ = 0;
  float offsetsRadius_ = 0.0f;
  // The last light pass's lookups in the shadow maps, where its samples do not move.
  KeptLookups keptLookups_;
  // The last camera pass's samples, where the samples of a copy coincide.
  KeptCameraSamples keptCameraSamples_;
};

// The instruction sets of the processor running this library that the CPU backend has paths for;
// asked once for each CPU device made.
CpuFeatures detectCpuFeatures();

constexpr unsigned long kMaxCpuWorkers = 1024;

// The CPU device's worker threads: `requested` (the EMBERKIT_CPU_WORKERS environment variable, to
// leave cores to other work or to compare renders made with other counts) when it is a whole
// number from 1 to kMaxCpuWorkers, else `hardware` (the machine's threads), at least 1.
unsigned cpuWorkerCount(const char *requested, unsigned hardware);

struct CpuEvent {
  std::chrono::steady_clock::time_point time;
  bool recorded = false;
};

} // namespace ek
