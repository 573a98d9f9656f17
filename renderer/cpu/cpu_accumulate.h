// How the CPU backend adds many samples into the RGBA accumulator: one private image per worker,
// merged afterwards in a fixed order, which is several times faster than atomic additions and
// gives the same image on every run. The private images are bounded by a memory budget; past it
// every worker adds atomically into the shared accumulator instead.
#pragma once

#include <vector>

#include "cpu/worker_pool.h"
#include "kernels/additive.h"

namespace ek {

constexpr uint64_t kPrivateImageBudget = uint64_t(512) << 20;
// Samples are placed in batches before they are scattered, so the scatter loop keeps many
// independent memory accesses in flight.
constexpr uint32_t kSampleBatch = 256;

// A placed sample that lands `times` times in a row on the same pixel with the same value (the
// samples of a copy without lens or motion blur). It is added `times` times, one addition after
// the other, exactly as separate samples would be.
struct RepeatedSample {
  SplatSample sample;
  uint32_t times;
};

// Collects placed samples and hands them on in batches.
template <typename Scatter> class SampleBatch {
public:
  explicit SampleBatch(Scatter &scatter) : scatter_(scatter) {}
  ~SampleBatch() { scatter_(samples_, filled_); }
  void add(const SplatSample &s, uint32_t times = 1) {
    samples_[filled_++] = {s, times};
    if (filled_ == kSampleBatch) {
      scatter_(samples_, filled_);
      filled_ = 0;
    }
  }

private:
  Scatter &scatter_;
  RepeatedSample samples_[kSampleBatch];
  uint32_t filled_ = 0;
};

// Runs `place(begin, end, batch)` over the work items [0, total); it calls batch.add for every
// sample that lands. `images` holds the private images between launches (all zero on entry and on
// return).
template <typename Place>
void accumulateSamples(WorkerPool &pool, std::vector<std::vector<Rgba32f>> &images,
                       Rgba32f *accumulator, uint64_t pixels, uint64_t total, Place &&place) {
  const unsigned workers = pool.size();
  const uint64_t extra = workers - 1;
  if (extra * pixels > kPrivateImageBudget / sizeof(Rgba32f)) {
    pool.parallelFor(total, pool.chunkFor(total, kSampleBatch),
                     [&](uint64_t begin, uint64_t end, unsigned) {
                       auto scatter = [&](const RepeatedSample *s, uint32_t n) {
                         for (uint32_t i = 0; i < n; ++i) {
                           float *cell = &accumulator[s[i].sample.pixel].r;
                           const Rgba32f &v = s[i].sample.value;
                           for (uint32_t t = 0; t < s[i].times; ++t) {
                             atomicAddFloat(cell + 0, v.r);
                             atomicAddFloat(cell + 1, v.g);
                             atomicAddFloat(cell + 2, v.b);
                             atomicAddFloat(cell + 3, v.a);
                           }
                         }
                       };
                       SampleBatch batch(scatter);
                       place(begin, end, batch);
                     });
    return;
  }
  // One contiguous part of the work per image; image 0 is the accumulator itself.
  images.resize(extra);
  std::vector<Rgba32f *> targets{accumulator};
  for (std::vector<Rgba32f> &image : images) {
    if (image.size() != pixels) {
      image.clear();
      image.shrink_to_fit();
      image.resize(pixels, Rgba32f{0, 0, 0, 0});
    }
    targets.push_back(image.data());
  }
  const uint64_t part = total / workers + (total % workers != 0);
  pool.parallelFor(total, part, [&](uint64_t begin, uint64_t end, unsigned) {
    Rgba32f *image = targets[begin / part];
    auto scatter = [image](const RepeatedSample *s, uint32_t n) {
      for (uint32_t i = 0; i < n; ++i) {
        Rgba32f cell = image[s[i].sample.pixel];
        const Rgba32f &v = s[i].sample.value;
        for (uint32_t t = 0; t < s[i].times; ++t)
          cell = {cell.r + v.r, cell.g + v.g, cell.b + v.b, cell.a + v.a};
        image[s[i].sample.pixel] = cell;
      }
    };
    SampleBatch batch(scatter);
    place(begin, end, batch);
  });
  if (extra == 0)
    return;
  // Merge in a fixed order and leave the private images cleared for the next launch.
  pool.parallelFor(pixels, pool.chunkFor(pixels, 4096),
                   [&](uint64_t begin, uint64_t end, unsigned) {
                     for (uint64_t p = begin; p < end; ++p) {
                       Rgba32f sum = accumulator[p];
                       for (size_t i = 1; i < targets.size(); ++i) {
                         Rgba32f &cell = targets[i][p];
                         sum = {sum.r + cell.r, sum.g + cell.g, sum.b + cell.b, sum.a + cell.a};
                         cell = {0, 0, 0, 0};
                       }
                       accumulator[p] = sum;
                     }
                   });
}

} // namespace ek
