// How the CPU backend adds many samples into the RGBA accumulator: one private image per worker,
// merged afterwards in a fixed order, which is several times faster than atomic additions and
// gives the same image on every run. The private images are bounded by a memory budget; past it
// every worker adds atomically into the shared accumulator instead. A layered splat adds a few
// sums of its own per pixel beside the RGBA ones, in a buffer of their own, the same way.
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
// The number of parts that asks accumulateSamples for one part per worker.
constexpr unsigned kPartPerWorker = 0;

// The terms a sample adds to its pixel's extra sums; none for the beauty alone.
template <uint32_t kExtra> struct ExtraTerms { float v[kExtra]; };
template <> struct ExtraTerms<0> {};

// Where the extra sums go: kExtra floats per pixel, and the tiles of their buffer.
template <uint32_t kExtra> struct ExtraSums {
  float *sums = nullptr;
  DirtyTiles tiles;
};

// The part of a batch whose samples every worker adds into the shared accumulator at once.
constexpr unsigned kSharedPart = ~0u;

// A placed sample that lands `times` times in a row on the same pixel with the same value (the
// samples of a copy without lens or motion blur). It is added `times` times, one addition after
// the other, exactly as separate samples would be. The value comes first, so that the two counts
// share the rest of its 16-byte alignment.
template <uint32_t kExtra = 0> struct RepeatedSample {
  Rgba32f value;
  uint32_t pixel;
  uint32_t times;
  [[no_unique_address]] ExtraTerms<kExtra> extra;
};

// Collects placed samples and hands them on in batches. With an `image`, the cell of each sample
// is prefetched as it is added, so the misses of a batch overlap the placing of the samples after
// it instead of stalling the scatter one after the other; the image is sized far beyond the caches
// and the samples land all over it. `part` is the part of accumulateSamples it sums, which no
// other worker sums meanwhile, or kSharedPart.
template <typename Scatter, uint32_t kExtra = 0> class SampleBatch {
public:
  explicit SampleBatch(Scatter &scatter, const Rgba32f *image = nullptr,
                       const float *extraSums = nullptr, unsigned part = kSharedPart)
      : scatter_(scatter), image_(image), extraSums_(extraSums), part_(part) {}
  ~SampleBatch() { scatter_(samples_, filled_); }
  unsigned part() const { return part_; }
  void add(const SplatSample &s, uint32_t times = 1) { add(s, ExtraTerms<kExtra>{}, times); }
  void add(const SplatSample &s, const ExtraTerms<kExtra> &extra, uint32_t times) {
    prefetch(s.pixel);
    if constexpr (kExtra > 0)
      if (extraSums_)
        prefetchForWrite(extraSums_ + uint64_t(s.pixel) * kExtra);
    samples_[filled_++] = {s.value, s.pixel, times, extra};
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
    const RepeatedSample<kExtra> one{s.value, s.pixel, 1, {}};
    scatter_(&one, 1);
  }

private:
  Scatter &scatter_;
  const Rgba32f *image_;
  const float *extraSums_;
  unsigned part_;
  RepeatedSample<kExtra> samples_[kSampleBatch];
  uint32_t filled_ = 0;
};

// Runs `place(begin, end, batch)` over the work items [0, total); it calls batch.add for every
// sample that lands. The work is split into `parts` contiguous parts (one for a sparse launch),
// each summed on its own and merged into the accumulator in part order: the image depends on the
// number of parts, not on the number of workers. Where the private images of all parts would pass
// the memory budget, they are summed and merged a group at a time, to the same image.
// kPartPerWorker splits the work into one part per worker and, past the budget, has every worker
// add atomically into the shared accumulator instead (so does a single image past the budget).
// `images` holds the private images between launches (all zero, with no tile flagged, on entry and
// on return); `accumulatorTiles` are flagged where the accumulator is written. With kExtra > 0 the
// samples' extra terms are summed into `extraSums` alike, and the batch's add takes them.
template <uint32_t kExtra, typename Place>
void accumulateSamples(WorkerPool &pool, std::vector<PrivateImage> &images, Rgba32f *accumulator,
                       const DirtyTiles &accumulatorTiles, const ExtraSums<kExtra> &extraSums,
                       uint64_t pixels, uint64_t total, unsigned parts, Place &&place) {
  const bool perWorker = parts == kPartPerWorker;
  parts = total <= kSparseWork ? 1 : perWorker ? pool.size() : std::max(parts, 1u);
  const uint64_t extra = parts - 1;
  const uint64_t pixelBytes = sizeof(Rgba32f) + kExtra * sizeof(float);
  const uint64_t affordable = kPrivateImageBudget / pixelBytes / std::max<uint64_t>(pixels, 1);
  // The extra sums of `pixel` in an image's extra sums.
  auto extraCell = [](float *sums, uint32_t pixel) { return sums + uint64_t(pixel) * kExtra; };
  if (extra > affordable && (affordable == 0 || perWorker)) {
    pool.parallelFor(total, pool.chunkFor(total, kSampleBatch),
                     [&](uint64_t begin, uint64_t end, unsigned) {
                       auto scatter = [&](const RepeatedSample<kExtra> *s, uint32_t n) {
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
                           if constexpr (kExtra > 0) {
                             float *sums = extraCell(extraSums.sums, s[i].pixel);
                             extraSums.tiles.markForAtomicAdd(sums);
                             for (uint32_t t = 0; t < s[i].times; ++t)
                               for (uint32_t k = 0; k < kExtra; ++k)
                                 atomicAddFloat(sums + k, s[i].extra.v[k]);
                           }
                         }
                       };
                       SampleBatch<decltype(scatter), kExtra> batch(scatter);
                       place(begin, end, batch);
                     });
    return;
  }
  // Part 0 adds into the accumulator itself, parts 1 .. extra each into a private image. Images a
  // sparse launch does not use are kept (clean) for the next dense one.
  const uint64_t group = std::min(extra, affordable);
  if (images.size() < group)
    images.resize(group);
  for (uint64_t i = 0; i < group; ++i)
    images[i].fit(pixels, kExtra);
  const uint64_t part = total / parts + (total % parts != 0);
  // Sums the parts [first, last): part 0 into the accumulator, the others into images[0] ...
  auto sumParts = [&](uint64_t first, uint64_t last) {
    const uint64_t begin = first * part, end = std::min(total, last * part);
    if (begin >= end)
      return;
    // The items [from, to) of part `index`.
    auto sumPart = [&](uint64_t index, uint64_t from, uint64_t to) {
      PrivateImage *own = index == 0 ? nullptr : &images[index - std::max<uint64_t>(first, 1)];
      Rgba32f *image = own ? own->cells() : accumulator;
      float *sums = own ? own->extraSums() : extraSums.sums;
      uint8_t *dirty = own ? own->dirty() : nullptr;
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
      auto scatter = [&](const RepeatedSample<kExtra> *s, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
          const uint32_t pixel = s[i].pixel;
          // Written before it is read, so that a page never written is mapped once, for writing
          // (see DirtyTiles::markForAtomicAdd).
          const bool first = firstInTile(image + pixel, pixel);
          if (first)
            image[pixel] = {0, 0, 0, 0};
          Rgba32f cell = image[pixel];
          const Rgba32f &v = s[i].value;
          for (uint32_t t = 0; t < s[i].times; ++t)
            cell = {cell.r + v.r, cell.g + v.g, cell.b + v.b, cell.a + v.a};
          image[pixel] = cell;
          if constexpr (kExtra > 0) {
            float *extraCellSums = extraCell(sums, pixel);
            // A private image's extra sums share its tile flags; the accumulator's have their own.
            if (dirty ? first : extraSums.tiles.mark(extraCellSums))
              std::fill(extraCellSums, extraCellSums + kExtra, 0.0f);
            for (uint32_t t = 0; t < s[i].times; ++t)
              for (uint32_t k = 0; k < kExtra; ++k)
                extraCellSums[k] += s[i].extra.v[k];
          }
        }
      };
      SampleBatch<decltype(scatter), kExtra> batch(scatter, image, sums, unsigned(index));
      place(from, to, batch);
    };
    // A worker may be handed several parts at once (a lone worker all of them).
    pool.parallelFor(end - begin, part, [&](uint64_t from, uint64_t to, unsigned) {
      for (uint64_t at = begin + from; at < begin + to;) {
        const uint64_t index = at / part, partEnd = std::min(begin + to, (index + 1) * part);
        sumPart(index, at, partEnd);
        at = partEnd;
      }
    });
  };
  // Merges images[0 .. used) in order and leaves them cleared for the next group. A tile no sample
  // reached holds zeros, and adding +0 changes no sum (the sums are never -0), so leaving it out
  // gives the very same image.
  auto mergeImages = [&](uint64_t used) {
    const uint64_t tiles = PrivateImage::tilesOf(pixels);
    pool.parallelFor(tiles, pool.chunkFor(tiles, 4), [&](uint64_t begin, uint64_t end, unsigned) {
      for (uint64_t tile = begin; tile < end; ++tile) {
        const uint64_t first = tile << PrivateImage::kTileShift;
        const uint64_t last = std::min(pixels, first + (uint64_t(1) << PrivateImage::kTileShift));
        for (uint64_t i = 0; i < used; ++i) {
          PrivateImage &image = images[i];
          if (!image.dirty()[tile])
            continue;
          image.dirty()[tile] = 0;
          mergePrivateCells(accumulator + first, image.cells() + first, last - first,
                            accumulatorTiles);
          if constexpr (kExtra > 0)
            mergePrivateCells(extraSums.sums + first * kExtra, image.extraSums() + first * kExtra,
                              (last - first) * kExtra, extraSums.tiles);
        }
      }
    });
  };
  sumParts(0, group + 1);
  if (group == 0)
    return;
  mergeImages(group);
  for (uint64_t first = group + 1; first < parts; first += group) {
    const uint64_t last = std::min<uint64_t>(parts, first + group);
    sumParts(first, last);
    mergeImages(last - first);
  }
}

// The beauty's splat alone: no extra sums.
template <typename Place>
void accumulateSamples(WorkerPool &pool, std::vector<PrivateImage> &images, Rgba32f *accumulator,
                       const DirtyTiles &accumulatorTiles, uint64_t pixels, uint64_t total,
                       unsigned parts, Place &&place) {
  accumulateSamples<0>(pool, images, accumulator, accumulatorTiles, ExtraSums<0>{}, pixels, total,
                       parts, std::forward<Place>(place));
}

} // namespace ek
