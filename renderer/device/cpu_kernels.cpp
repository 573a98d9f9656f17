// Kernel launches of the CPU backend. They run the same item functions as the CUDA kernels over
// the same work items; what differs is only how the work is spread and how the splat accumulates.
#include <algorithm>
#include <atomic>

#include "device/cpu_device.h"
#if EK_HAS_RESOLVE_AVX2
#include "device/cpu_resolve_avx2.h"
#endif
#include "kernels/additive.h"
#include "kernels/galaxy.h"

namespace ek {

namespace {

// The splat accumulates into one image per worker and merges them afterwards, which is several
// times faster than atomic additions. Those private images are bounded: when one per worker
// would take more than this, the splat adds atomically into the shared accumulator instead.
constexpr uint64_t kPrivateImageBudget = uint64_t(512) << 20;
// Samples are placed in batches before they are scattered, so the scatter loop keeps many
// independent memory accesses in flight.
constexpr uint32_t kSplatBatch = 256;

void addPlain(Rgba32f* image, const SplatSample& s) {
  Rgba32f& cell = image[s.pixel];
  cell.r += s.value.r;
  cell.g += s.value.g;
  cell.b += s.value.b;
  cell.a += s.value.a;
}

void addAtomic(Rgba32f* image, const SplatSample& s) {
  Rgba32f& cell = image[s.pixel];
  std::atomic_ref<float>(cell.r).fetch_add(s.value.r, std::memory_order_relaxed);
  std::atomic_ref<float>(cell.g).fetch_add(s.value.g, std::memory_order_relaxed);
  std::atomic_ref<float>(cell.b).fetch_add(s.value.b, std::memory_order_relaxed);
  std::atomic_ref<float>(cell.a).fetch_add(s.value.a, std::memory_order_relaxed);
}

// Places the work items [begin, end) and hands each batch of hits to `scatter`. Items are decoded
// incrementally; when all samples of a copy coincide, a copy is placed once and repeated.
template <typename Scatter>
void splatRange(const SplatArgs& a, uint64_t begin, uint64_t end, Scatter&& scatter) {
  const EKFrame& f = a.frame;
  const bool coincide = samplesCoincide(f, a.velocities);
  const uint32_t samples = uint32_t(f.samples);
  const uint32_t copies = uint32_t(f.repopulation) + 1;
  WorkItem work = decodeWorkItem(begin, f.repopulation, f.samples);
  SplatSample batch[kSplatBatch];
  uint32_t filled = 0;
  SplatSample last{};
  bool lastHit = false;
  for (uint64_t item = begin; item < end; ++item) {
    if (!coincide || work.sample == 0 || item == begin)
      lastHit = splatWorkItem(f, a.positions, a.colors, a.velocities, work, last);
    if (lastHit) {
      batch[filled++] = last;
      if (filled == kSplatBatch) {
        scatter(batch, filled);
        filled = 0;
      }
    }
    if (++work.sample == samples) {
      work.sample = 0;
      if (++work.copy == copies) {
        work.copy = 0;
        ++work.particle;
      }
    }
  }
  scatter(batch, filled);
}

} // namespace

Rgba32f* CpuDevice::privateImage(unsigned index, uint64_t pixels) {
  std::vector<Rgba32f>& image = privateImages_[index];
  if (image.size() != pixels) {
    image.clear();
    image.shrink_to_fit();
    image.resize(pixels, Rgba32f{0, 0, 0, 0});
  }
  return image.data();
}

void CpuDevice::launchSplat(uint32_t blocks, const SplatArgs& args) {
  if (!acceptLaunch(blocks))
    return;
  const uint64_t pixels = uint64_t(args.frame.width) * uint64_t(args.frame.height);
  const unsigned workers = pool_.size();
  const uint64_t extraImages = workers - 1;
  const bool privateImages = extraImages * pixels <= kPrivateImageBudget / sizeof(Rgba32f);

  if (!privateImages) {
    pool_.parallelFor(args.total, pool_.chunkFor(args.total, kSplatBatch),
                      [&](uint64_t begin, uint64_t end, unsigned) {
                        splatRange(args, begin, end, [&](const SplatSample* s, uint32_t n) {
                          for (uint32_t i = 0; i < n; ++i)
                            addAtomic(args.accumulator, s[i]);
                        });
                      });
    return;
  }

  // One contiguous part of the work per image (image 0 is the accumulator itself), so the sums
  // do not depend on which thread ran which part.
  privateImages_.resize(extraImages);
  std::vector<Rgba32f*> images{args.accumulator};
  for (unsigned i = 0; i < extraImages; ++i)
    images.push_back(privateImage(i, pixels));
  const uint64_t part = args.total / workers + (args.total % workers != 0);
  pool_.parallelFor(args.total, part, [&](uint64_t begin, uint64_t end, unsigned) {
    Rgba32f* image = images[begin / part];
    splatRange(args, begin, end, [&](const SplatSample* s, uint32_t n) {
      for (uint32_t i = 0; i < n; ++i)
        addPlain(image, s[i]);
    });
  });
  if (extraImages == 0)
    return;
  // Merge in a fixed order and leave the private images cleared for the next launch.
  pool_.parallelFor(pixels, pool_.chunkFor(pixels, 4096), [&](uint64_t begin, uint64_t end,
                                                              unsigned) {
    for (uint64_t p = begin; p < end; ++p) {
      Rgba32f sum = args.accumulator[p];
      for (unsigned i = 1; i < images.size(); ++i) {
        Rgba32f& cell = images[i][p];
        sum = {sum.r + cell.r, sum.g + cell.g, sum.b + cell.b, sum.a + cell.a};
        cell = {0, 0, 0, 0};
      }
      args.accumulator[p] = sum;
    }
  });
}

void CpuDevice::launchResolve(uint32_t blocks, const ResolveArgs& args) {
  if (!acceptLaunch(blocks))
    return;
  // Threads past pixelCount do nothing, so the pixels covered are min(grid, pixelCount).
  const uint64_t covered = std::min<uint64_t>(uint64_t(blocks) * kBlockSize,
                                              uint64_t(std::max(args.pixelCount, 0)));
#if EK_HAS_RESOLVE_AVX2
  static const bool vectorised = canResolveAvx2();
#else
  constexpr bool vectorised = false;
#endif
  pool_.parallelFor(covered, pool_.chunkFor(covered, 4096),
                    [&](uint64_t begin, uint64_t end, unsigned) {
#if EK_HAS_RESOLVE_AVX2
                      if (vectorised) {
                        resolveRangeAvx2(args, begin, end);
                        return;
                      }
#endif
                      for (uint64_t i = begin; i < end; ++i)
                        resolvePixel(args.accumulator, args.image, args.imageFloat, int32_t(i),
                                     args.exposure);
                    });
}

void CpuDevice::launchGenerateGalaxy(uint32_t blocks, const GalaxyArgs& args) {
  if (!acceptLaunch(blocks))
    return;
  pool_.parallelFor(args.count, pool_.chunkFor(args.count, 1024),
                    [&](uint64_t begin, uint64_t end, unsigned) {
                      for (uint64_t i = begin; i < end; ++i)
                        writeGalaxyParticle(args, i);
                    });
}

} // namespace ek
