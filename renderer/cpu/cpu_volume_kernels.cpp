// The volumetric passes of the CPU backend, over the same item functions as the CUDA kernels.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "cpu/cpu_accumulate.h"
#include "cpu/cpu_device.h"
#include "cpu/cpu_work_items.h"
#include "cpu/layer_part_sums.h"
#include "cpu/prefetch.h"
#include "cpu/spatial_order.h"
#include "kernels/bounds_buffers.h"
#include "kernels/layers.h"

namespace ek {

namespace {

constexpr uint64_t kMinChunk = 1024;
constexpr uint64_t kBoundsPart = uint64_t(1) << 16;
// The shading pass sums its samples in this many parts whatever the number of workers, so that
// its image is the same on every machine; up to this many workers shade at once.
constexpr unsigned kShadeParts = 8;

constexpr int kPrefixGroup = 8;

#if defined(__SSE2__) || defined(_M_X64)
// cellThickness of 4 cells.
__m128 cellThickness4(__m128i cells) {
  return _mm_mul_ps(_mm_cvtepi32_ps(cells), _mm_set1_ps(1.0f / kCellScale));
}
#endif

// prefixColumn on kPrefixGroup columns at once, wherever each lies, each column's additions in
// the same order as there; a column's total goes where `totals` names a place for it. One
// column's running sum is a chain of dependent additions that would leave the processor waiting
// on each; eight independent chains keep it busy.
void prefixColumnsTogether(MapCell *const columns[kPrefixGroup], int32_t depth,
                           float *const totals[kPrefixGroup]) {
#if defined(__SSE2__) || defined(_M_X64)
  if (depth % 4 == 0) {
    // Blocks of 4 slices of 4 columns, turned so that a register holds one slice of 4 columns:
    // each lane then takes its column's additions one slice after the other, as prefixColumn.
    // Each block of floats replaces the block of cells it was made from.
    const __m128 half = _mm_set1_ps(0.5f);
    __m128 sum[2] = {_mm_setzero_ps(), _mm_setzero_ps()};
    auto load = [](const MapCell *at) {
      return cellThickness4(_mm_loadu_si128(reinterpret_cast<const __m128i *>(at)));
    };
    auto store = [](MapCell *at, __m128 v) { _mm_storeu_ps(reinterpret_cast<float *>(at), v); };
    for (int32_t k = 0; k < depth; k += 4) {
      for (int g = 0; g < 2; ++g) {
        MapCell *const *own = columns + 4 * g;
        __m128 r0 = load(own[0] + k), r1 = load(own[1] + k);
        __m128 r2 = load(own[2] + k), r3 = load(own[3] + k);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        __m128 *slice[4] = {&r0, &r1, &r2, &r3};
        for (__m128 *v : slice) {
          const __m128 value = *v;
          *v = _mm_add_ps(sum[g], _mm_mul_ps(half, value));
          sum[g] = _mm_add_ps(sum[g], value);
        }
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        store(own[0] + k, r0);
        store(own[1] + k, r1);
        store(own[2] + k, r2);
        store(own[3] + k, r3);
      }
    }
    alignas(16) float sums[kPrefixGroup];
    _mm_store_ps(sums, sum[0]);
    _mm_store_ps(sums + 4, sum[1]);
    for (int c = 0; c < kPrefixGroup; ++c)
      if (totals[c])
        *totals[c] = sums[c];
    return;
  }
#endif
  for (int c = 0; c < kPrefixGroup; ++c)
    prefixColumn(columns[c], depth, totals[c]);
}

// prefixColumnsTogether on kPrefixGroup neighbouring columns, their totals side by side in
// `totals` when given.
void prefixColumnGroup(MapCell *columns, int32_t depth, float *totals) {
  MapCell *own[kPrefixGroup];
  float *ownTotals[kPrefixGroup];
  for (int c = 0; c < kPrefixGroup; ++c) {
    own[c] = columns + uint64_t(c) * uint64_t(depth);
    ownTotals[c] = totals ? totals + c : nullptr;
  }
  prefixColumnsTogether(own, depth, ownTotals);
}

// Columns to prefix gathered from wherever they lie, prefixed kPrefixGroup at a time: the columns
// that a light pass reaches are scattered over its maps, a few to a group of neighbours.
class ColumnBatch {
public:
  explicit ColumnBatch(int32_t depth) : depth_(depth) {}
  ColumnBatch(const ColumnBatch &) = delete;
  ColumnBatch &operator=(const ColumnBatch &) = delete;
  // Prefixes the columns still held, one by one.
  ~ColumnBatch() {
    for (int c = 0; c < count_; ++c)
      prefixColumn(columns_[c], depth_, totals_[c]);
  }

  void add(MapCell *column, float *total) {
    columns_[count_] = column;
    totals_[count_] = total;
    if (++count_ == kPrefixGroup) {
      prefixColumnsTogether(columns_, depth_, totals_);
      count_ = 0;
    }
  }

private:
  int32_t depth_;
  MapCell *columns_[kPrefixGroup];
  float *totals_[kPrefixGroup];
  int count_ = 0;
};

// How far ahead of its work item the pipeline below prepares it.
constexpr uint32_t kAhead = 8;

// A step of the pipeline below: one work item, or where the samples of a copy coincide, the run
// of `count` items of one copy from work.sample on. `slot` is the particle's place in the
// visiting order.
struct WorkRun {
  WorkItem work;
  uint64_t slot;
  uint32_t count;
};

// Visits the work items [begin, end) in order, as forEachWorkItem does, in three steps kAhead
// steps apart: fetch(work, slot) 2 kAhead steps before, stage(work, slot, staged) kAhead steps
// before and visit(work, staged, count) last. In space order the particles' own data (and what
// their samples reach) lies scattered in memory; preparing each step ahead keeps many of those
// reads in flight where a plain loop would wait for each in turn. With `coincide` (every sample
// of a copy lands where its first does) a step is a copy's run of samples, placed once and
// visited with the number of its items in the range; otherwise every step is one item (count 1).
template <typename Staged, typename Fetch, typename Stage, typename Visit>
void pipelineWorkItems(int32_t repopulation, int32_t samples, bool coincide, uint64_t begin,
                       uint64_t end, const uint32_t *order, Fetch &&fetch, Stage &&stage,
                       Visit &&visit) {
  constexpr uint32_t kRing = 2 * kAhead;
  WorkRun runs[kRing];
  Staged staged[kRing];
  uint64_t fetched = 0, staging = 0, visited = 0;
  const uint32_t sampleCount = uint32_t(samples);
  const uint32_t copies = uint32_t(repopulation) + 1;
  WorkItem slot = decodeWorkItem(begin, repopulation, samples);
  uint64_t item = begin; // the first item not yet fetched
  for (;;) {
    for (; item < end && fetched < visited + kRing; ++fetched) {
      WorkRun &run = runs[fetched % kRing];
      run.work = slot;
      run.slot = slot.particle;
      run.count =
          coincide ? uint32_t(std::min<uint64_t>(end - item, sampleCount - slot.sample)) : 1;
      if (order)
        run.work.particle = order[slot.particle];
      fetch(run.work, run.slot);
      item += run.count;
      slot.sample += run.count;
      if (slot.sample == sampleCount) {
        slot.sample = 0;
        if (++slot.copy == copies) {
          slot.copy = 0;
          ++slot.particle;
        }
      }
    }
    if (visited == fetched)
      return;
    for (; staging < fetched && staging <= visited + kAhead; ++staging) {
      const WorkRun &run = runs[staging % kRing];
      stage(run.work, run.slot, staged[staging % kRing]);
    }
    const WorkRun &run = runs[visited % kRing];
    visit(run.work, staged[visited % kRing], run.count);
    ++visited;
  }
}

// Runs the pipeline above over every work item of a volumetric splat launch, in the given
// particle order.
template <typename Staged, typename Args, typename Fetch, typename Stage, typename Visit>
void pipelineVolumeWork(WorkerPool &pool, const Args &a, const uint32_t *order, Fetch &&fetch,
                        Stage &&stage, Visit &&visit) {
  const bool coincide = samplesCoincide(a.frame, a.velocities);
  pool.parallelFor(a.total, pool.chunkFor(a.total, kMinChunk),
                   [&](uint64_t begin, uint64_t end, unsigned) {
                     pipelineWorkItems<Staged>(a.frame.repopulation, a.frame.samples, coincide,
                                               begin, end, order, fetch, stage, visit);
                   });
}

// The particle's position (and velocity) ahead of its sample; positions already in visiting order
// are read one after the other and need no asking.
void fetchParticle(const EKV3 *positions, const EKV3 *ordered, const EKV3 *velocities,
                   const WorkItem &work) {
  if (!ordered)
    prefetch(positions + work.particle);
  if (velocities)
    prefetch(velocities + work.particle);
}

// Where the copies of a launch's particles lie.
struct CopySource {
  const EKV3 *positions; // in index order
  const EKV3 *ordered;   // in visiting order; null when the items run in index order
  const EKV3 *copies;    // every copy's position in visiting order; null where not made
  uint64_t perParticle;  // copies of a particle

  // The position of the copy of a work item at `slot` of the visiting order.
  EKV3 copyOf(const Frame &f, const WorkItem &work, uint64_t slot) const {
    if (copies)
      return copies[slot * perParticle + work.copy];
    return copyPosition(f, ordered ? ordered[slot] : positions[work.particle], work);
  }
};

// A camera sample placed ahead of its use; `placed` is false for a culled one.
struct StagedCameraSample {
  CameraSample sample;
  uint64_t slot; // the particle's place in the visiting order
  bool placed;
};

// A light sample placed in the maps ahead of its deposits.
struct StagedLightSample {
  int hits; // lights whose map the sample lands in
  int map[kMaxVolumeLights];
  MapHit hit[kMaxVolumeLights];
  Slices slices[kMaxVolumeLights];
};

// A camera sample placed ahead of its shading, with where it lies in every shadowing light's maps.
struct StagedShadeSample {
  StagedCameraSample camera;
  ShadowLookup lookups[kMaxVolumeLights];
};

// out[s] = values[order[s]] for every slot s of the order.
template <typename T>
void gatherInOrder(WorkerPool &pool, const T *values, const PageArray<uint32_t> &order,
                   PageArray<T> &out) {
  out.resizeForOverwrite(order.size());
  pool.parallelFor(order.size(), pool.chunkFor(order.size(), 4096),
                   [&](uint64_t begin, uint64_t end, unsigned) {
                     for (uint64_t s = begin; s < end; ++s)
                       out[s] = values[order[s]];
                   });
}

// Looks the sample at p up in each shadowing light's maps, or takes the lookups the light pass
// kept for it (`kept`, one per light), and asks for the four texels its shading will read there,
// as shadowThickness reads them.
void stageShadowLookups(const VolumeConstants &vol, const EKV3 &p, const KeptLookup *kept,
                        const MapCell *shadowMaps, ShadowLookup *lookups) {
  for (int i = 0; i < vol.lightCount; ++i) {
    const VolLight &light = vol.lights[i];
    if (light.mapCount < 1)
      continue;
    ShadowLookup &l = lookups[i];
    if (kept)
      l = lookupOf(kept[i], vol);
    else
      shadowLookup(vol, light, p, l);
    if (!l.inside)
      continue;
    const TexelTaps taps = texelTaps(vol.maps[l.map], l.hit, shadowMaps);
    for (const MapCell *column : taps.column)
      prefetch(column + l.slices.k0);
  }
}

// Places the camera sample of a work item at `slot` of the visiting order and, when it lands in
// the image, asks for the cell of the camera depth map it touches; false for a culled sample.
// `Args` is a pass's arguments (the camera depth, the shading or the layers), which all carry the
// frame, the particles and the camera depth map.
template <typename Args>
bool placeCameraSample(const Args &a, const CopySource &source, const WorkItem &work, uint64_t slot,
                       StagedCameraSample &staged) {
  staged.slot = slot;
  staged.placed = cameraSampleOfCopy(a.frame, a.vol, source.copyOf(a.frame, work, slot),
                                     a.velocities, work, staged.sample);
  if (staged.placed)
    prefetch(cameraColumn(a.vol, a.cameraDepth, staged.sample.pixel) + staged.sample.slices.k0);
  return staged.placed;
}

// placeCameraSample from what the camera pass kept of the work item's copy (`kept`).
template <typename Args>
bool takeCameraSample(const Args &a, const CopySource &source, const KeptCameraSample &kept,
                      const WorkItem &work, uint64_t slot, StagedCameraSample &staged) {
  staged.slot = slot;
  staged.placed = kept.placed != 0;
  if (!staged.placed)
    return false;
  staged.sample = cameraSampleOf(kept, a.vol, work, source.copyOf(a.frame, work, slot));
  prefetch(cameraColumn(a.vol, a.cameraDepth, kept.pixel) + kept.k0);
  return true;
}

// placeCameraSample, or takeCameraSample where `keptCamera` holds the camera pass's samples of
// every copy, and for a placed sample its lookups in the shadow maps as well; `kept` holds the
// light pass's lookups for every copy, or is null.
template <typename Args>
void stageShadeSample(const Args &a, const CopySource &source, const KeptCameraSample *keptCamera,
                      const KeptLookup *kept, const WorkItem &work, uint64_t slot,
                      StagedShadeSample &staged) {
  const uint64_t copy = slot * source.perParticle + work.copy;
  if (keptCamera ? !takeCameraSample(a, source, keptCamera[copy], work, slot, staged.camera)
                 : !placeCameraSample(a, source, work, slot, staged.camera))
    return;
  const KeptLookup *own = kept ? kept + copy * uint64_t(a.vol.lightCount) : nullptr;
  stageShadowLookups(a.vol, staged.camera.sample.position, own, a.shadowMaps, staged.lookups);
}

// The lookups the last light pass kept for a pass with these constants over `particles` particles
// and `source`'s copies of them; null where it kept none for them, or where this pass's samples
// move.
template <typename Args>
const KeptLookup *keptLookupsFor(const KeptLookups &keptLookups, const Args &a,
                                 const CopySource &source, uint64_t particles) {
  if (!source.ordered || usesMotionBlur(a.frame, a.velocities))
    return nullptr;
  return keptLookups.find(a.vol, a.frame, particles * source.perParticle);
}

// Visits [begin, end) in blocks of eight: place(first, count, block) places a block and asks for
// the memory its deposits will write, deposit(first, count, block) writes it once the block after
// it is placed, so that what it writes has a block's placing to arrive in.
template <typename Block, typename Place, typename Deposit>
void placeThenDeposit(uint64_t begin, uint64_t end, Place &&place, Deposit &&deposit) {
  constexpr uint32_t kLanes = Block::kLanes;
  Block blocks[2];
  uint64_t firsts[2] = {0, 0};
  uint32_t counts[2] = {0, 0};
  int current = 0;
  for (uint64_t first = begin; first < end; first += kLanes, current ^= 1) {
    firsts[current] = first;
    counts[current] = uint32_t(std::min<uint64_t>(kLanes, end - first));
    place(first, counts[current], blocks[current]);
    if (counts[current ^ 1] > 0)
      deposit(firsts[current ^ 1], counts[current ^ 1], blocks[current ^ 1]);
    counts[current ^ 1] = 0;
  }
  if (counts[current ^ 1] > 0)
    deposit(firsts[current ^ 1], counts[current ^ 1], blocks[current ^ 1]);
}

// Deposits the light samples at copies [begin, end), placed eight at a time by `place`, and keeps
// their lookups in `keep` (one per light for each copy) when given.
void splatLightLanes(const VolumeConstants &vol, const EKV3 *copies, uint64_t begin, uint64_t end,
                     KeptLookup *keep, decltype(VectorPaths::placeLightSamples) place,
                     MapCell *shadowMaps, const DirtyTiles &tiles) {
  const uint64_t lights = uint64_t(vol.lightCount);
  placeThenDeposit<LightLanes>(
      begin, end,
      [&](uint64_t first, uint32_t count, LightLanes &block) {
        place(vol, copies + first, count, block);
        for (int i = 0; i < vol.lightCount; ++i)
          for (uint32_t lanes = block.hits[i]; lanes != 0; lanes &= lanes - 1) {
            const uint32_t lane = lowestBit(lanes);
            const ShadowMap &m = vol.maps[block.map[i][lane]];
            prefetch(texelColumn(shadowMaps, m, int(block.px[i][lane]), int(block.py[i][lane])) +
                     block.k0[i][lane]);
          }
        if (keep)
          for (uint32_t lane = 0; lane < count; ++lane) {
            KeptLookup *kept = keep + (first + lane) * lights;
            for (int i = 0; i < vol.lightCount; ++i)
              kept[i] =
                  block.hits[i] >> lane & 1u
                      ? keptLookup(block.map[i][lane], block.hit(i, lane), block.slices(i, lane))
                      : KeptLookup{}; // outside every map
          }
      },
      [&](uint64_t, uint32_t count, const LightLanes &block) {
        for (uint32_t lane = 0; lane < count; ++lane)
          for (int i = 0; i < vol.lightCount; ++i)
            if (block.hits[i] >> lane & 1u)
              depositInMap(vol.maps[block.map[i][lane]], block.hit(i, lane), block.slices(i, lane),
                           block.thickness[i][lane], shadowMaps,
                           [&tiles](MapCell *written) { tiles.markForAtomicAdd(written); });
      });
}

// Deposits the camera samples of work items [begin, end), whose samples coincide and draw
// nothing, a copy at a time: `place` places eight copies of `copies` at once, and each copy's
// sample is deposited as many times as the range holds its samples. A copy's placing is kept in
// `keep` (one per copy) when given, by the range that holds its first sample.
void splatCameraLanes(const CamSplatArgs &a, const EKV3 *copies, uint64_t begin, uint64_t end,
                      KeptCameraSample *keep, decltype(VectorPaths::placeCameraSamples) place,
                      const DirtyTiles &tiles) {
  const uint64_t samples = uint64_t(a.frame.samples);
  placeThenDeposit<CameraLanes>(
      begin / samples, (end + samples - 1) / samples,
      [&](uint64_t first, uint32_t count, CameraLanes &block) {
        place(a.frame, a.vol, copies + first, count, block);
        for (uint32_t lanes = block.placed; lanes != 0; lanes &= lanes - 1) {
          const uint32_t lane = lowestBit(lanes);
          prefetch(cameraColumn(a.vol, a.cameraDepth, block.pixel[lane]) + block.k0[lane]);
        }
        if (keep)
          for (uint32_t lane = 0; lane < count; ++lane)
            if ((first + lane) * samples >= begin)
              keep[first + lane] = block.placed >> lane & 1u ? keptCameraSample(block.sample(lane))
                                                             : KeptCameraSample{};
      },
      [&](uint64_t first, uint32_t, const CameraLanes &block) {
        for (uint32_t lanes = block.placed; lanes != 0; lanes &= lanes - 1) {
          const uint32_t lane = lowestBit(lanes);
          const uint64_t times = copySamplesInRange(first + lane, samples, begin, end);
          depositCameraSample(
              a.vol, block.sample(lane), a.cameraDepth,
              [&tiles](MapCell *written) { tiles.markForAtomicAdd(written); }, uint32_t(times));
        }
      });
}

// A block of shadeInLanes: where its samples read the shadow maps, staged while the block before
// it is shaded, and what its shading gives.
struct ShadeBlock {
  static constexpr uint32_t kLanes = ShadedLanes::kLanes;
  ShadowTapLanes taps;
  ShadedLanes shaded;
};

// Shades the samples of work items [begin, end), whose samples coincide, from what the camera
// and the light passes kept of every copy (`keptCamera`, `kept`), eight copies at a time by
// `shade`; batch.add receives each copy's sample once for each of its samples in the range, in
// item order. `colors` are the particles' colours in visiting order. The memory a block's shading
// reads is asked for while the block before it is shaded.
template <typename Batch>
void shadeInLanes(const ShadeArgs &a, const CopySource &source, const KeptCameraSample *keptCamera,
                  const KeptLookup *kept, const Rgba8 *colors,
                  decltype(VectorPaths::shadeSamples) shade, uint64_t begin, uint64_t end,
                  Batch &batch) {
  const uint64_t samples = uint64_t(a.frame.samples);
  const uint64_t lights = uint64_t(a.vol.lightCount);
  placeThenDeposit<ShadeBlock>(
      begin / samples, (end + samples - 1) / samples,
      [&](uint64_t first, uint32_t count, ShadeBlock &block) {
        uint32_t placed = 0;
        for (uint32_t lane = 0; lane < count; ++lane) {
          const KeptCameraSample &k = keptCamera[first + lane];
          if (!k.placed)
            continue;
          placed |= 1u << lane;
          prefetch(cameraColumn(a.vol, a.cameraDepth, k.pixel) + k.k0);
        }
        stageShadowTaps(a.vol, kept + first * lights, placed, a.shadowMaps, block.taps);
      },
      [&](uint64_t first, uint32_t count, ShadeBlock &block) {
        ShadeInputs in{source.copies + first, keptCamera + first, &block.taps, {}, a.cameraDepth};
        for (uint32_t lane = 0; lane < count; ++lane)
          in.color[lane] = colors[(first + lane) / source.perParticle];
        ShadedLanes &shaded = block.shaded;
        shade(a.vol, in, count, shaded);
        for (uint32_t lanes = shaded.shaded; lanes != 0; lanes &= lanes - 1) {
          const uint32_t lane = lowestBit(lanes);
          const uint64_t times = copySamplesInRange(first + lane, samples, begin, end);
          batch.add(shaded.sample(lane), uint32_t(times));
        }
      });
}

// The camera samples the last camera pass kept for a pass with these arguments over `particles`
// particles and `source`'s copies of them; null where it kept none for them, or where this pass's
// samples do not coincide.
template <typename Args>
const KeptCameraSample *keptCameraSamplesFor(const KeptCameraSamples &keptCamera, const Args &a,
                                             const CopySource &source, uint64_t particles) {
  if (!source.ordered || !samplesCoincide(a.frame, a.velocities))
    return nullptr;
  return keptCamera.find(a.frame, a.vol, particles * source.perParticle);
}

} // namespace

void CpuDevice::run(uint32_t, const BoundsArgs &a) {
  // Parts of a fixed size, merged in order: the sums depend neither on the threads nor on how
  // many there are.
  const uint64_t part = kBoundsPart;
  std::vector<BoundsPartial> partials(a.count / part + 1, neutralBounds());
  pool_.parallelFor(a.count, part, [&](uint64_t begin, uint64_t end, unsigned) {
    // A worker may be handed several parts at once (a lone worker all of them).
    for (uint64_t i = begin; i < end;) {
      BoundsPartial &b = partials[i / part];
      const uint64_t partEnd = std::min(end, (i / part + 1) * part);
      for (; i < partEnd; ++i)
        addToBounds(b, a.positions[i], a.velocities ? a.velocities + i : nullptr);
    }
  });
  BoundsPartial total = neutralBounds();
  for (const BoundsPartial &b : partials)
    mergeBounds(total, b);
  if (a.count > 0) {
    mergeIntoBoundsBuffers(total, a.bounds, a.moments);
    memoryTiles(a.bounds).markRange(a.bounds, 7 * sizeof(float));
    memoryTiles(a.moments).markRange(a.moments, 7 * sizeof(double));
  }

  // The passes that follow visit the particles in space order.
  spatialOrderPositions_ = nullptr;
  copyPositionsMade_ = false;
  keptLookups_.forget();
  keptCameraSamples_.forget();
  if (a.spaceOrder && a.count > 0 && a.count <= UINT32_MAX) {
    spatialOrder_.build(pool_, a.positions, uint32_t(a.count), total.minimum, total.maximum);
    // The positions in that order too, so that the passes read them one after the other.
    gatherInOrder(pool_, a.positions, spatialOrder_.order(), orderedPositions_);
    spatialOrderPositions_ = a.positions;
  }
}

const uint32_t *CpuDevice::spatialOrderFor(const EKV3 *positions, const Frame &frame,
                                           uint64_t total) const {
  const uint64_t perParticle = itemsPerParticle(frame.repopulation, frame.samples);
  const PageArray<uint32_t> &order = spatialOrder_.order();
  if (positions != spatialOrderPositions_ || total / perParticle != order.size() ||
      total % perParticle != 0)
    return nullptr;
  return order.data();
}

// Copies kept per frame at most: beyond, each pass works out the offsets itself.
constexpr uint64_t kMaxKeptCopies = uint64_t(1) << 24;

bool CpuDevice::makeCopyOffsets(const Frame &frame, uint64_t particles) {
  const uint64_t added = uint64_t(frame.repopulation); // copies 1 .. repopulation of a particle
  if (offsetsRepopulation_ != frame.repopulation ||
      std::memcmp(&offsetsRadius_, &frame.radius, sizeof(float)) != 0) {
    offsetParticles_ = 0;
    offsetsRepopulation_ = frame.repopulation;
    offsetsRadius_ = frame.radius;
  }
  if (particles <= offsetParticles_)
    return true;
  try {
    copyOffsets_.resize(particles * added);
  } catch (const std::bad_alloc &) {
    offsetParticles_ = 0;
    return false;
  }
  const uint64_t first = offsetParticles_;
  pool_.parallelFor(particles - first, pool_.chunkFor(particles - first, 256),
                    [&](uint64_t begin, uint64_t end, unsigned) {
                      for (uint64_t i = first + begin; i < first + end; ++i)
                        for (uint32_t copy = 1; copy <= added; ++copy)
                          copyOffsets_[i * added + copy - 1] =
                              repopulationOffset(i, copy, frame.radius);
                    });
  offsetParticles_ = particles;
  return true;
}

void CpuDevice::makeCopyPositions(const Frame &frame) {
  if (copyPositions(frame) || frame.repopulation == 0)
    return;
  const uint64_t particles = orderedPositions_.size();
  const uint64_t copies = copiesPerParticle(frame.repopulation);
  if (particles == 0 || copies > kMaxKeptCopies / particles)
    return;
  copyPositionsMade_ = false;
  try {
    copyPositions_.resizeForOverwrite(particles * copies);
  } catch (const std::bad_alloc &) {
    return; // the passes work the copies out themselves
  }
  if (!makeCopyOffsets(frame, particles))
    return;
  const PageArray<uint32_t> &order = spatialOrder_.order();
  const uint64_t added = copies - 1;
  pool_.parallelFor(particles, pool_.chunkFor(particles, 256),
                    [&](uint64_t begin, uint64_t end, unsigned) {
                      for (uint64_t s = begin; s < end; ++s) {
                        EKV3 *out = copyPositions_.data() + s * copies;
                        const EKV3 *offsets = copyOffsets_.data() + uint64_t(order[s]) * added;
                        const EKV3 &p = orderedPositions_[s];
                        out[0] = p;
                        for (uint64_t c = 0; c < added; ++c)
                          out[c + 1] = movedBy(p, offsets[c]);
                      }
                    });
  copyPositionsMade_ = true;
  copiesRepopulation_ = frame.repopulation;
  copiesRadius_ = frame.radius;
}

const EKV3 *CpuDevice::copyPositions(const Frame &frame) const {
  if (frame.repopulation == 0) // each copy is its particle
    return orderedPositions_.data();
  const bool made = copyPositionsMade_ && copiesRepopulation_ == frame.repopulation &&
                    std::memcmp(&copiesRadius_, &frame.radius, sizeof(float)) == 0;
  return made ? copyPositions_.data() : nullptr;
}

// The copies of a launch over `positions`, visited in space order when `ordered` (the positions
// in that order) is given, else in index order; `copies` as copyPositions gives them.
CopySource copySource(const EKV3 *positions, const EKV3 *ordered, const EKV3 *copies,
                      const Frame &frame) {
  return {positions, ordered, ordered ? copies : nullptr, copiesPerParticle(frame.repopulation)};
}

void CpuDevice::run(uint32_t, const LightSplatArgs &a) {
  // lightSplatWork, with each sample placed in the maps ahead of its deposits.
  const VolumeConstants &vol = a.vol;
  const uint32_t *order = spatialOrderFor(a.positions, a.frame, a.total);
  const EKV3 *ordered = order ? orderedPositions_.data() : nullptr;
  if (order)
    makeCopyPositions(a.frame);
  const CopySource source = copySource(a.positions, ordered, copyPositions(a.frame), a.frame);
  // Samples that do not move are where the shading's will be: their lookups are kept for it.
  KeptLookup *keep = nullptr;
  keptLookups_.forget();
  if (order && a.frame.samples == 1 && !usesMotionBlur(a.frame, a.velocities))
    keep = keptLookups_.keepFor(vol, a.frame, a.total);
  const uint64_t lights = uint64_t(vol.lightCount);
  const DirtyTiles tiles = memoryTiles(a.shadowMaps);
  if (vector_.placeLightSamples && source.copies && a.frame.samples == 1 &&
      !usesMotionBlur(a.frame, a.velocities)) {
    // Item i is copy i of the copies in visiting order: they are placed eight at a time.
    pool_.parallelFor(a.total, pool_.chunkFor(a.total, kMinChunk),
                      [&](uint64_t begin, uint64_t end, unsigned) {
                        splatLightLanes(vol, source.copies, begin, end, keep,
                                        vector_.placeLightSamples, a.shadowMaps, tiles);
                      });
    return;
  }
  pipelineVolumeWork<StagedLightSample>(
      pool_, a, order,
      [&](const WorkItem &work, uint64_t) {
        fetchParticle(a.positions, ordered, a.velocities, work);
      },
      [&](const WorkItem &work, uint64_t slot, StagedLightSample &staged) {
        staged.hits = 0;
        // One sample per copy: the item's index among the copies is its own.
        KeptLookup *kept = keep ? keep + (slot * source.perParticle + work.copy) * lights : nullptr;
        if (kept)
          std::fill(kept, kept + lights, KeptLookup{}); // outside every map
        uint32_t state = 0;
        const EKV3 p = samplePositionOfCopy(a.frame, source.copyOf(a.frame, work, slot),
                                            a.velocities, work, state);
        if (!isFinitePoint(p))
          return;
        for (int i = 0; i < vol.lightCount; ++i) {
          const int n = staged.hits;
          if (!lightSampleHit(vol, vol.lights[i], p, staged.map[n], staged.hit[n]))
            continue;
          const ShadowMap &m = vol.maps[staged.map[n]];
          const MapHit &hit = staged.hit[n];
          staged.slices[n] = mapSlices(m, hit.lz);
          if (kept)
            kept[i] = keptLookup(staged.map[n], hit, staged.slices[n]);
          prefetch(texelColumn(a.shadowMaps, m, int(hit.px), int(hit.py)) + staged.slices[n].k0);
          ++staged.hits;
        }
      },
      [&](const WorkItem &, const StagedLightSample &staged, uint32_t) { // one sample per copy
        for (int n = 0; n < staged.hits; ++n) {
          const MapHit &hit = staged.hit[n];
          depositInMap(vol.maps[staged.map[n]], hit, staged.slices[n],
                       lightSampleThickness(vol, hit), a.shadowMaps,
                       [&tiles](MapCell *written) { tiles.markForAtomicAdd(written); });
        }
      });
}

void CpuDevice::run(uint32_t, const PrefixArgs &a) {
  const uint64_t depth = a.depth > 0 ? uint64_t(a.depth) : 0;
  const DirtyTiles columnTiles = memoryTiles(a.columns);
  const DirtyTiles totalTiles = memoryTiles(a.totals);
  // Columns in clean memory are all zero, and so are their prefix sums and totals: they are left
  // as they are (their totals set to zero where those may hold something else). Where columns
  // may reach over more than one block, a column's floats may land in a clean block beside one
  // its deposits flagged: what is prefixed is flagged then.
  const uint64_t columnBytes = depth * sizeof(MapCell);
  const bool ownBlocks = columnBytes > 0 && DirtyTiles::kBlockBytes % columnBytes == 0 &&
                         reinterpret_cast<uintptr_t>(a.columns) % columnBytes == 0;
  auto prefixColumns = [&](uint64_t first, uint64_t count, ColumnBatch &batch) {
    MapCell *const columns = a.columns + first * depth;
    float *const totals = a.totals ? a.totals + first : nullptr;
    if (!columnTiles.anyDirty(columns, count * columnBytes)) {
      if (totals && totalTiles.anyDirty(totals, count * sizeof(float)))
        std::fill(totals, totals + count, 0.0f);
      return;
    }
    if (totals)
      totalTiles.markRange(totals, count * sizeof(float));
    // Columns smaller than a block share their blocks: a group of them is prefixed whole, and all
    // of it flagged.
    const bool small = columnBytes < DirtyTiles::kBlockBytes;
    if (small || columnTiles.allDirty(columns, count * columnBytes)) {
      if (count == kPrefixGroup)
        prefixColumnGroup(columns, a.depth, totals);
      else
        for (uint64_t c = 0; c < count; ++c)
          prefixColumn(columns + c * depth, a.depth, totals ? totals + c : nullptr);
      if (!ownBlocks)
        columnTiles.markRange(columns, count * columnBytes);
      return;
    }
    // Of a group with clean columns, only those written go to the batch.
    for (uint64_t c = 0; c < count; ++c) {
      MapCell *const column = columns + c * depth;
      if (!columnTiles.anyDirty(column, columnBytes)) {
        if (totals)
          totals[c] = 0.0f;
        continue;
      }
      if (!ownBlocks)
        columnTiles.markRange(column, columnBytes);
      batch.add(column, totals ? totals + c : nullptr);
    }
  };
  pool_.parallelFor(a.columnCount, pool_.chunkFor(a.columnCount, kMinChunk),
                    [&](uint64_t begin, uint64_t end, unsigned) {
                      ColumnBatch batch(a.depth);
                      uint64_t c = begin;
                      for (; c + kPrefixGroup <= end; c += kPrefixGroup)
                        prefixColumns(c, kPrefixGroup, batch);
                      if (c < end)
                        prefixColumns(c, end - c, batch);
                    });
}

void CpuDevice::run(uint32_t, const CamSplatArgs &a) {
  // camSplatWork, with each sample placed ahead of its deposit.
  const uint32_t *order = spatialOrderFor(a.positions, a.frame, a.total);
  const EKV3 *ordered = order ? orderedPositions_.data() : nullptr;
  if (order)
    makeCopyPositions(a.frame);
  const CopySource source = copySource(a.positions, ordered, copyPositions(a.frame), a.frame);
  // Copies whose samples coincide are placed where the shading's will be: kept for it.
  KeptCameraSample *keep = nullptr;
  keptCameraSamples_.forget();
  if (order && samplesCoincide(a.frame, a.velocities))
    keep =
        keptCameraSamples_.keepFor(a.frame, a.vol, orderedPositions_.size() * source.perParticle);
  const DirtyTiles tiles = memoryTiles(a.cameraDepth);
  if (vector_.placeCameraSamples && source.copies && samplesCoincide(a.frame, a.velocities) &&
      a.frame.projection != EK_PROJECTION_SPHERICAL) {
    // Item i is a sample of copy i / samples of the copies in visiting order: the copies are
    // placed eight at a time.
    pool_.parallelFor(
        a.total, pool_.chunkFor(a.total, kMinChunk), [&](uint64_t begin, uint64_t end, unsigned) {
          splatCameraLanes(a, source.copies, begin, end, keep, vector_.placeCameraSamples, tiles);
        });
    return;
  }
  pipelineVolumeWork<StagedCameraSample>(
      pool_, a, order,
      [&](const WorkItem &work, uint64_t) {
        fetchParticle(a.positions, ordered, a.velocities, work);
      },
      [&](const WorkItem &work, uint64_t slot, StagedCameraSample &staged) {
        const bool placed = placeCameraSample(a, source, work, slot, staged);
        // A copy's run of samples may be split between two ranges: the one that holds its first
        // sample keeps it.
        if (keep && work.sample == 0)
          keep[slot * source.perParticle + work.copy] =
              placed ? keptCameraSample(staged.sample) : KeptCameraSample{};
      },
      [&](const WorkItem &, const StagedCameraSample &staged, uint32_t times) {
        if (staged.placed)
          depositCameraSample(
              a.vol, staged.sample, a.cameraDepth,
              [&tiles](MapCell *written) { tiles.markForAtomicAdd(written); }, times);
      });
}

// shadeWork over the work items [begin, end), each sample placed ahead of its shading and the
// memory its shading reads asked for meanwhile; shade(camera, color, lookups, times, s) shades a
// placed sample that stands for `times` coinciding samples into s, false for an invisible one.
template <typename Batch, typename Shade>
void CpuDevice::shadeRange(const ShadeArgs &a, const uint32_t *order, uint64_t begin, uint64_t end,
                           Batch &batch, Shade &&shade) const {
  const EKV3 *ordered = order ? orderedPositions_.data() : nullptr;
  const CopySource source = copySource(a.positions, ordered, copyPositions(a.frame), a.frame);
  const KeptLookup *kept = keptLookupsFor(keptLookups_, a, source, orderedPositions_.size());
  const KeptCameraSample *keptCamera =
      keptCameraSamplesFor(keptCameraSamples_, a, source, orderedPositions_.size());
  SplatSample s;
  pipelineWorkItems<StagedShadeSample>(
      a.frame.repopulation, a.frame.samples, samplesCoincide(a.frame, a.velocities), begin, end,
      order,
      [&](const WorkItem &work, uint64_t) {
        fetchParticle(a.positions, ordered, a.velocities, work);
        if (!order)
          prefetch(a.colors + work.particle);
      },
      [&](const WorkItem &work, uint64_t slot, StagedShadeSample &staged) {
        stageShadeSample(a, source, keptCamera, kept, work, slot, staged);
      },
      [&](const WorkItem &, const StagedShadeSample &staged, uint32_t times) {
        const StagedCameraSample &camera = staged.camera;
        if (!camera.placed)
          return;
        const uint64_t particle = camera.sample.work.particle;
        const Rgba8 &color = order ? orderedColors_[camera.slot] : a.colors[particle];
        if (shade(camera, color, staged.lookups, times, s))
          batch.add(s, times);
      });
}

void CpuDevice::run(uint32_t, const ShadeArgs &a) {
  const uint64_t pixels = uint64_t(a.frame.width) * uint64_t(a.frame.height);
  const uint32_t *order = spatialOrderFor(a.positions, a.frame, a.total);
  if (order) { // the colours in visiting order, read one after the other by the shading below
    gatherInOrder(pool_, a.colors, spatialOrder_.order(), orderedColors_);
    makeCopyPositions(a.frame);
  }
  const DirtyTiles accumulatorTiles = memoryTiles(a.accumulator);
  if (!a.layers.sums) {
    // Where the camera and light passes kept every copy's placing, the copies are shaded eight at
    // a time from it.
    const EKV3 *ordered = order ? orderedPositions_.data() : nullptr;
    const CopySource source = copySource(a.positions, ordered, copyPositions(a.frame), a.frame);
    const KeptLookup *kept = keptLookupsFor(keptLookups_, a, source, orderedPositions_.size());
    const KeptCameraSample *keptCamera =
        keptCameraSamplesFor(keptCameraSamples_, a, source, orderedPositions_.size());
    const bool inLanes = vector_.shadeSamples && source.copies && kept && keptCamera;
    accumulateSamples(pool_, privateImages_, a.accumulator, accumulatorTiles, pixels, a.total,
                      kShadeParts, [&](uint64_t begin, uint64_t end, auto &batch) {
                        if (inLanes) {
                          shadeInLanes(a, source, keptCamera, kept, orderedColors_.data(),
                                       vector_.shadeSamples, begin, end, batch);
                          return;
                        }
                        shadeRange(a, order, begin, end, batch,
                                   [&](const StagedCameraSample &camera, const Rgba8 &color,
                                       const ShadowLookup *lookups, uint32_t, SplatSample &s) {
                                     return shadeCameraSample(a.vol, camera.sample, color, lookups,
                                                              a.shadowMaps, a.cameraDepth, s);
                                   });
                      });
    return;
  }
  // A layered render: each sample's layer record goes to the sums of its part beside its beauty.
  const int32_t stride = a.layers.plan.stride;
  const uint64_t floats = pixels * uint64_t(stride);
  const DirtyTiles sumsTiles = memoryTiles(a.layers.sums);
  const bool privates = layerPartSums_.fit(kShadeParts, floats);
  // The motion sums read the particles' velocities, in visiting order like the colours.
  const EKV3 *velocities = a.layers.plan.motion >= 0 ? a.layers.velocities : nullptr;
  if (velocities && order) {
    gatherInOrder(pool_, velocities, spatialOrder_.order(), orderedVelocities_);
    velocities = orderedVelocities_.data();
  }
  accumulateSamples(
      pool_, privateImages_, a.accumulator, accumulatorTiles, pixels, a.total, kShadeParts,
      [&](uint64_t begin, uint64_t end, auto &batch) {
        LayerRecordBatch records(
            layerPartSums_.targetOf(batch.part(), privates, a.layers.sums, sumsTiles), stride);
        shadeRange(a, order, begin, end, batch,
                   [&](const StagedCameraSample &camera, const Rgba8 &color,
                       const ShadowLookup *lookups, uint32_t times, SplatSample &s) {
                     const EKV3 velocity = !velocities ? EKV3{0, 0, 0}
                                           : order     ? velocities[camera.slot]
                                                       : velocities[camera.sample.work.particle];
                     float record[kMaxLayerStride];
                     if (!shadeLayeredSample(a, camera.sample, color, velocity, lookups, s, record))
                       return false;
                     // Coinciding samples add the same record once each, as separate ones would.
                     for (uint32_t t = 0; t < times; ++t) {
                       std::copy_n(record, stride, records.record(camera.sample.pixel));
                       records.commit();
                     }
                     return true;
                   });
      });
  if (privates)
    layerPartSums_.merge(pool_, kShadeParts, a.layers.sums, sumsTiles, floats);
}

} // namespace ek
