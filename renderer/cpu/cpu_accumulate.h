// How the CPU backend adds many samples into the RGBA accumulator: one private image per worker,
// merged afterwards in a fixed order, which is several times faster than atomic additions and
// gives the same image on every run. The private images are bounded by a memory budget; past it
// every worker adds atomically into the shared accumulator instead.
#pragma once

#include <algorithm>
#include <vector>

#include "cpu/dirty_tiles.h"
#include "cpu/prefetch.h"
#include "cpu/private_image.h"
#include "cpu/worker_pool.h"
#include "kernels/additive.h"

namespace ek {

constexpr uint64_t kPrivateImageBudget = uint64_t(512) << 20;
// Launches of at most this many work items run on one worker straight into the accumulator: the
// work is less than the cost of sharing it, and every private image would first fault in pages of
// its own and then, when merged, those of the accumulator.
constexpr uint64_t kSparseWork = uint64_t(1) << 14;
// Samples are placed in batches before they are scattered, so the scatter loop keeps many
// independent memory accesses in flight.
constexpr uint32_t kSampleBatch = 256;

// A placed sample that lands `times` times in a row on the same pixel with the same value (the
// samples of a copy without lens or motion blur). It is added `times` times, one addition after
// the other, exactly as separate samples would be. The value comes first, so that the two counts
// share the rest of its 16-byte alignment.
struct RepeatedSample {
  Rgba32f value;
  uint32_t pixel;
  uint32_t times;
};

// Collects placed samples and hands them on in batches. With an `image`, the cell of each sample
// is prefetched as it is added, so the misses of a batch overlap the placing of the samples after
// it instead of stalling the scatter one after the other; the image is sized far beyond the caches
// and the samples land all over it.
template <typename Scatter> class SampleBatch {
public:
  explicit SampleBatch(Scatter &scatter, const Rgba32f *image = nullptr)
      : scatter_(scatter), image_(image) {}
  ~SampleBatch() { scatter_(samples_, filled_); }
  void add(const SplatSample &s, uint32_t times = 1) {
    prefetch(s.pixel);
    samples_[filled_++] = {s.value, s.pixel, times};
    if (filled_ == kSampleBatch) {
      scatter_(samples_, filled_);
      filled_ = 0;
    }
  }

  // For a caller that holds its samples a while itself: asks for a pixel's cell ahead of its
  // addition, and adds a sample at once, after those collected before it.
  void prefetch(uint32_t pixel) const {
    if (image_)
      prefetchForWrite(image_ + pixel);
  }
  void addNow(const SplatSample &s) {
    if (filled_ > 0) {
      scatter_(samples_, filled_);
      filled_ = 0;
    }
    const RepeatedSample one{s.value, s.pixel, 1};
    scatter_(&one, 1);
  }

private:
  Scatter &scatter_;
  const Rgba32f *image_;
  RepeatedSample samples_[kSampleBatch];
  uint32_t filled_ = 0;
};

// Runs `place(begin, end, batch)` over the work items [0, total); it calls batch.add for every
// sample that lands. `images` holds the private images between launches (all zero, with no tile
// flagged, on entry and on return); `accumulatorTiles` are flagged where the accumulator is
// written.
template <typename Place>
void accumulateSamples(WorkerPool &pool, std::vector<PrivateImage> &images, Rgba32f *accumulator,
                       const DirtyTiles &accumulatorTiles, uint64_t pixels, uint64_t total,
                       Place &&place) {
  const unsigned parts = total <= kSparseWork ? 1 : pool.size();
  const uint64_t extra = parts - 1;
  if (extra * pixels > kPrivateImageBudget / sizeof(Rgba32f)) {
    pool.parallelFor(total, pool.chunkFor(total, kSampleBatch),
                     [&](uint64_t begin, uint64_t end, unsigned) {
                       auto scatter = [&](const RepeatedSample *s, uint32_t n) {
                         for (uint32_t i = 0; i < n; ++i) {
                           float *cell = &accumulator[s[i].pixel].r;
                           accumulatorTiles.markForAtomicAdd(cell);
                           const Rgba32f &v = s[i].value;
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
  // One contiguous part of the work per image; image 0 is the accumulator itself. Images a sparse
  // launch does not use are kept (clean) for the next dense one.
  if (images.size() < extra)
    images.resize(extra);
  for (uint64_t i = 0; i < extra; ++i)
    images[i].fit(pixels);
  const uint64_t part = total / parts + (total % parts != 0);
  pool.parallelFor(total, part, [&](uint64_t begin, uint64_t end, unsigned) {
    const uint64_t index = begin / part;
    Rgba32f *image = index == 0 ? accumulator : images[index - 1].cells();
    uint8_t *dirty = index == 0 ? nullptr : images[index - 1].dirty();
    // True for the first sample in a clean tile, which is all zero and has this worker as its
    // only writer.
    auto firstInTile = [dirty, &accumulatorTiles](Rgba32f *cell, uint32_t pixel) {
      if (!dirty)
        return accumulatorTiles.mark(cell);
      uint8_t &flag = dirty[pixel >> PrivateImage::kTileShift];
      const bool first = !flag;
      flag = 1;
      return first;
    };
    auto scatter = [image, &firstInTile](const RepeatedSample *s, uint32_t n) {
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t pixel = s[i].pixel;
        // Written before it is read, so that a page never written is mapped once, for writing
        // (see DirtyTiles::markForAtomicAdd).
        if (firstInTile(image + pixel, pixel))
          image[pixel] = {0, 0, 0, 0};
        Rgba32f cell = image[pixel];
        const Rgba32f &v = s[i].value;
        for (uint32_t t = 0; t < s[i].times; ++t)
          cell = {cell.r + v.r, cell.g + v.g, cell.b + v.b, cell.a + v.a};
        image[pixel] = cell;
      }
    };
    SampleBatch batch(scatter, image);
    place(begin, end, batch);
  });
  if (extra == 0)
    return;
  // Merge the flagged tiles in a fixed order and leave them cleared for the next launch. A tile
  // no sample reached holds zeros, and adding +0 changes no sum (the sums are never -0), so
  // leaving it out gives the very same image.
  const uint64_t tiles = PrivateImage::tilesOf(pixels);
  pool.parallelFor(tiles, pool.chunkFor(tiles, 4), [&](uint64_t begin, uint64_t end, unsigned) {
    for (uint64_t tile = begin; tile < end; ++tile) {
      const uint64_t first = tile << PrivateImage::kTileShift;
      const uint64_t last = std::min(pixels, first + (uint64_t(1) << PrivateImage::kTileShift));
      for (uint64_t i = 0; i < extra; ++i) {
        PrivateImage &image = images[i];
        if (!image.dirty()[tile])
          continue;
        image.dirty()[tile] = 0;
        // Sums in a clean tile are zero and not read, for the same reason as in the scatter.
        const uint64_t bytes = (last - first) * sizeof(Rgba32f);
        const bool zero = !accumulatorTiles.anyDirty(accumulator + first, bytes);
        accumulatorTiles.markRange(accumulator + first, bytes);
        Rgba32f *cells = image.cells();
        for (uint64_t p = first; p < last; ++p) {
          const Rgba32f cell = cells[p];
          const Rgba32f sum = zero ? Rgba32f{0, 0, 0, 0} : accumulator[p];
          accumulator[p] = {sum.r + cell.r, sum.g + cell.g, sum.b + cell.b, sum.a + cell.a};
          cells[p] = {0, 0, 0, 0};
        }
      }
    }
  });
}

} // namespace ek
