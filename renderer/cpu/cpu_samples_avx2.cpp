// Perspective samples eight at a time: the sample stream, the shutter time, the camera transform
// and the thin lens, written as samplePosition and projectPerspective are, lane by lane.
#include "cpu/cpu_avx2.h"
#include "cpu/cpu_avx2_lanes.h"
#include "cpu/cpu_sine_cosine_avx2.h"
#include "kernels/sampling.h"

namespace ek {

namespace {

using avx2::F32x8;
using avx2::Mask8;
using avx2::U32x8;

U32x8 mix32(U32x8 h) { return mixBits(h); }

F32x8 nextRandom(U32x8 &state) {
  state = mix32(state + kStreamStep);
  return avx2::toFloat(state >> 8) * kRandomScale; // below 2^24, so the conversion is exact
}

// The runs of lanes [first, first + 8), as SampleLanes gives them: the step's first run and each
// lane's run counted from it (below 8, since eight lanes span at most eight runs).
struct StepRuns {
  uint32_t firstRun;
  __m256i offset;

  StepRuns(const SampleLanes &lanes, uint32_t first) : firstRun(lanes.run[first]) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(lanes.run + first));
    offset = _mm256_sub_epi32(_mm256_cvtepu8_epi32(bytes), _mm256_set1_epi32(int(firstRun)));
  }
  // Each lane's value of its run, from values per run.
  F32x8 of(const float *perRun) const {
    return _mm256_permutevar8x32_ps(F32x8::load(perRun + firstRun).v, offset);
  }
  U32x8 of(const uint32_t *perRun) const {
    return _mm256_permutevar8x32_epi32(U32x8::load(perRun + firstRun).v, offset);
  }
};

// The lanes' numbers in a block, first + 0 .. first + 7.
U32x8 laneNumbers(uint32_t first) {
  return _mm256_add_epi32(_mm256_set1_epi32(int(first)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// What each lane draws from its stream, in the stream's order: the shutter time, then the lens
// position as a radius and the sine and cosine of its angle (the angle itself until the sine and
// cosine are made).
struct Draws {
  float time[SampleLanes::kLanes];
  float radius[SampleLanes::kLanes];
  float angle[SampleLanes::kLanes];
  float sine[SampleLanes::kLanes];
  float cosine[SampleLanes::kLanes];
};

// The draws of lanes [first, first + 8): the shutter time, the lens radius and the lens angle.
void drawLanes(const Frame &f, bool motionBlur, bool lens, const SampleLanes &lanes, uint32_t first,
               Draws &d) {
  const StepRuns runs(lanes, first);
  // sampleStream from its particle's and its copy and sample's parts.
  const U32x8 sampleKey = runs.of(lanes.keyBase) + laneNumbers(first) * kSampleMultiplier;
  U32x8 state = mix32(runs.of(lanes.particleKey) ^ mix32(sampleKey));
  if (motionBlur)
    ((nextRandom(state) - 0.5f) * f.shutter).store(d.time + first);
  if (lens) {
    (F32x8(f.apertureRadius) * avx2::sqrt(nextRandom(state))).store(d.radius + first);
    (F32x8(kTwoPi) * nextRandom(state)).store(d.angle + first);
  }
}

// The sine and cosine of the lens angles of lanes [first, first + 8). Made in a pass of their
// own, after the draws of all lanes: each step's chain of hashes and the sine and cosine's chain
// of multiply-adds are long, and apart the steps of each pass overlap one another.
void lensSineCosine(uint32_t first, Draws &d) {
  F32x8 sine, cosine;
  avx2::sineCosine(F32x8::load(d.angle + first), sine, cosine);
  sine.store(d.sine + first);
  cosine.store(d.cosine + first);
}

// A point's place on the image plane before the lens moves it: its coordinates divided by its
// depth, the lens's scale for it (invFocusDistance - 1 / depth), and whether it is kept (finite and
// past the near plane). Without motion blur the samples of a copy share it, so it is made once per
// run.
struct PlanePoint {
  F32x8 xn, yn, k;
  Mask8 keep;
};

PlanePoint toImagePlane(const Frame &f, F32x8 x, F32x8 y, F32x8 z) {
  const F32x8 cx = avx2::affineRow(f.view + 0, x, y, z);
  const F32x8 cy = avx2::affineRow(f.view + 4, x, y, z);
  const F32x8 cz = avx2::affineRow(f.view + 8, x, y, z);
  const F32x8 depth = F32x8(0.0f) - cz;
  // Culled when nearClip >= depth; a not-a-number depth goes on and fails the image test.
  Mask8 keep = avx2::notGreaterEqual(f.nearClip, depth);
  keep = keep & (avx2::finiteLanes(x) & (avx2::finiteLanes(y) & avx2::finiteLanes(z)));
  const F32x8 inverseDepth = F32x8(-1.0f) / cz;
  return {cx * inverseDepth, cy * inverseDepth, F32x8(f.invFocusDistance) - inverseDepth, keep};
}

// The plane points of runs [0, runs), eight at a time.
struct RunPoints {
  float xn[SampleLanes::kRoom], yn[SampleLanes::kRoom], k[SampleLanes::kRoom];
  float keep[SampleLanes::kRoom]; // all bits set where kept
};

void projectRuns(const Frame &f, const SampleLanes &lanes, uint32_t runs, RunPoints &points) {
  for (uint32_t r = 0; r < runs; r += 8) {
    const PlanePoint p = toImagePlane(f, F32x8::load(lanes.x + r), F32x8::load(lanes.y + r),
                                      F32x8::load(lanes.z + r));
    p.xn.store(points.xn + r);
    p.yn.store(points.yn + r);
    p.k.store(points.k + r);
    F32x8(p.keep.bits).store(points.keep + r);
  }
}

// The plane point of each of lanes [first, first + 8): its run's, or with motion blur its own,
// moved along the particle's velocity by the lane's shutter time.
PlanePoint lanePlanePoint(const Frame &f, bool motionBlur, const SampleLanes &lanes,
                          const RunPoints &points, const Draws &d, uint32_t first) {
  const StepRuns runs(lanes, first);
  if (!motionBlur)
    return {runs.of(points.xn), runs.of(points.yn), runs.of(points.k),
            Mask8{runs.of(points.keep).v}};
  const F32x8 t = F32x8::load(d.time + first);
  const F32x8 x = runs.of(lanes.x) + runs.of(lanes.vx) * t;
  const F32x8 y = runs.of(lanes.y) + runs.of(lanes.vy) * t;
  const F32x8 z = runs.of(lanes.z) + runs.of(lanes.vz) * t;
  return toImagePlane(f, x, y, z);
}

// Places lanes [first, first + 8) with their draws; returns a bit per lane that lands in the
// image, and that lane's pixel index in `pixel`.
uint32_t placeLanes(const Frame &f, bool motionBlur, bool lens, const SampleLanes &lanes,
                    const RunPoints &points, const Draws &d, uint32_t first, uint32_t *pixel) {
  const PlanePoint p = lanePlanePoint(f, motionBlur, lanes, points, d, first);
  F32x8 xn = p.xn, yn = p.yn;
  if (lens) {
    const F32x8 kRho = p.k * F32x8::load(d.radius + first);
    xn += kRho * F32x8::load(d.cosine + first);
    yn += kRho * F32x8::load(d.sine + first);
  }
  const F32x8 width = float(f.width), height = float(f.height);
  const F32x8 px = (xn * f.scaleX * 0.5f + 0.5f) * width;
  const F32x8 py = (F32x8(1.0f) - (yn * f.scaleY * 0.5f + 0.5f)) * height;
  // placeInImage
  const Mask8 keep = p.keep & (px >= 0.0f) & (px < width) & (py >= 0.0f) & (py < height);
  // Lanes outside the image are never read, whatever their conversion gave.
  (avx2::truncateToInt(py) * uint32_t(f.width) + avx2::truncateToInt(px)).store(pixel + first);
  return keep.laneBits();
}

} // namespace

void sineCosineAvx2(const float *angles, float *sine, float *cosine, uint64_t count) {
  for (uint64_t i = 0; i + 8 <= count; i += 8) {
    F32x8 s, c;
    avx2::sineCosine(F32x8::load(angles + i), s, c);
    s.store(sine + i);
    c.store(cosine + i);
  }
}

uint64_t placeSamplesAvx2(const Frame &f, bool motionBlur, const SampleLanes &lanes, uint32_t count,
                          uint32_t pixel[SampleLanes::kLanes]) {
  const bool lens = f.apertureRadius > 0.0f;
  Draws draws;
  for (uint32_t first = 0; first < count; first += 8)
    drawLanes(f, motionBlur, lens, lanes, first, draws);
  if (lens)
    for (uint32_t first = 0; first < count; first += 8)
      lensSineCosine(first, draws);
  RunPoints points;
  if (!motionBlur)
    projectRuns(f, lanes, uint32_t(lanes.run[count - 1]) + 1, points);
  uint64_t hits = 0;
  for (uint32_t first = 0; first < count; first += 8)
    hits |= uint64_t(placeLanes(f, motionBlur, lens, lanes, points, draws, first, pixel)) << first;
  return count == SampleLanes::kLanes ? hits : hits & ((uint64_t(1) << count) - 1);
}

} // namespace ek
