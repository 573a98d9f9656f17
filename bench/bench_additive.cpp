// Additive render speed beside the machine's scatter limit.
//
// For each scene it renders particles x 4 samples into 1920 x 1080 through the library and, in the
// same run, measures the scatter limit: the very same samples, placed beforehand, added without
// atomics into one private image per worker and merged at the end. It prints samples per second of
// both, their ratio, and the resolve pass's time as a share of the splat's. On the CPU the splat
// and the limit run in turns, a splat then a limit, and each time's median is printed with the
// median of the turns' ratios: a swing in the machine's speed (other work, the memory's clock) then
// touches both halves of a ratio alike. They are timed both by the clock and by the process's CPU
// time: on a machine that other work loads, the CPU time stays steadier than the clock. Last, the
// first frame of a fresh context (8-bit image out, as ekrender's PNG) beside a later frame of the
// same request, for 1000 particles and for the benchmark's count.
//
//   bench_additive [--device cpu|cuda] [--particles N] [--repeat N]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_options.h"
#include "context.h"
#include "cpu/worker_pool.h"
#include "first_frame.h"
#include "frame_builder.h"
#include "kernels/additive.h"

#if EK_HAS_CUDA
#include "cuda_baselines.h"
#endif

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kSamples = 4;

// Median times of `run`, each time after an untimed `prepare`: by the clock and in CPU time of the
// whole process (all its threads together).
struct Times {
  double wallMs, cpuMs;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

Times timeOnce(const std::function<void()> &run) {
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  run();
  const double cpuMs = 1000.0 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  return {
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
      cpuMs};
}

Times medianTimes(
    int repeat, const std::function<void()> &run, const std::function<void()> &prepare = [] {}) {
  prepare();
  run(); // warm-up: first-touch of buffers, thread start
  std::vector<double> wall, cpu;
  for (int i = 0; i < repeat; ++i) {
    prepare();
    const Times t = timeOnce(run);
    wall.push_back(t.wallMs);
    cpu.push_back(t.cpuMs);
  }
  return {median(wall), median(cpu)};
}

// The splat and the scatter limit timed in turns: the median of each one's times, and the median
// of the turns' speed ratios (limit time over splat time), by the clock and in CPU time.
struct Turns {
  Times splat, limit, ratio;
};

Turns alternatedTimes(int repeat, const std::function<void()> &splat,
                      const std::function<void()> &prepareSplat,
                      const std::function<void()> &limit) {
  prepareSplat();
  splat(); // warm-up, as in medianTimes
  limit();
  std::vector<double> splatWall, splatCpu, limitWall, limitCpu, wallRatio, cpuRatio;
  for (int i = 0; i < repeat; ++i) {
    prepareSplat();
    const Times s = timeOnce(splat);
    const Times l = timeOnce(limit);
    splatWall.push_back(s.wallMs);
    splatCpu.push_back(s.cpuMs);
    limitWall.push_back(l.wallMs);
    limitCpu.push_back(l.cpuMs);
    wallRatio.push_back(l.wallMs / s.wallMs);
    cpuRatio.push_back(l.cpuMs / s.cpuMs);
  }
  return {{median(splatWall), median(splatCpu)},
          {median(limitWall), median(limitCpu)},
          {median(wallRatio), median(cpuRatio)}};
}

double medianMs(
    int repeat, const std::function<void()> &run, const std::function<void()> &prepare = [] {}) {
  return medianTimes(repeat, run, prepare).wallMs;
}

struct Scene {
  std::string name;
  EKCamera camera{};
  EKRenderSettings settings{};
};

EKRenderSettings benchSettings(uint64_t particles) {
  EKRenderSettings s{};
  s.width = kWidth;
  s.height = kHeight;
  s.brightness = 0.15f * kWidth * kHeight / float(particles);
  s.exposure = 1;
  s.samples = kSamples;
  s.seed = 1;
  return s;
}

EKCamera lookAt(EKV3 eye, float fovY) {
  EKCamera c{};
  c.eye = eye;
  c.up = {0, 1, 0};
  c.fovY = fovY;
  return c;
}

// Uploads a cloud made on the host (uniform box or Gaussian blob) in front of the camera.
bool uploadCloud(EKContext *context, uint64_t n, bool blob) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::vector<EKV3> positions(n);
  std::vector<uint8_t> colors(n * 4);
  for (uint64_t i = 0; i < n; ++i) {
    positions[i] = blob ? EKV3{normal(random) * 8, normal(random) * 8, normal(random) * 8}
                        : EKV3{uniform(random) * 160, uniform(random) * 90, uniform(random) * 100};
    colors[i * 4 + 0] = uint8_t(128 + 127 * uniform(random));
    colors[i * 4 + 1] = 180;
    colors[i * 4 + 2] = 90;
    colors[i * 4 + 3] = 255;
  }
  return ekReserve(context, n, 0) == 0 &&
         ekUpload(context, positions.data(), colors.data(), nullptr, n, 0) == 0;
}

// The samples of a scene, placed with the shared item function: pixel and value of every hit.
std::vector<ek::SplatSample> placeSamples(EKContext *context, const ek::Frame &frame) {
  std::vector<EKV3> positions(context->count);
  std::vector<Rgba8> colors(context->count);
  context->backend->copyToHost(positions.data(), context->positions.get(), positions.size() * 12);
  context->backend->copyToHost(colors.data(), context->colors.get(), colors.size() * 4);
  const uint64_t total = context->count * uint64_t(frame.repopulation + 1) * frame.samples;
  std::vector<ek::SplatSample> hits;
  hits.reserve(total);
  for (uint64_t item = 0; item < total; ++item) {
    ek::SplatSample s;
    if (ek::splatSample(frame, positions.data(), colors.data(), nullptr, item, s))
      hits.push_back(s);
  }
  return hits;
}

// The scatter limit on the CPU: precomputed samples added into one private image per worker,
// then merged into the output on all cores. Each run clears the images, adds and merges.
class CpuScatterLimit {
public:
  explicit CpuScatterLimit(const std::vector<ek::SplatSample> &hits)
      : hits_(hits), workers_(std::max(1u, std::thread::hardware_concurrency())), pool_(workers_),
        images_(workers_, std::vector<Rgba32f>(kPixels)), output_(kPixels) {}

  void run() {
    const uint64_t part = hits_.size() / workers_ + 1;
    pool_.parallelFor(kPixels, pool_.chunkFor(kPixels, 4096),
                      [&](uint64_t b, uint64_t e, unsigned) {
                        for (auto &image : images_)
                          std::fill(image.begin() + b, image.begin() + e, Rgba32f{0, 0, 0, 0});
                      });
    pool_.parallelFor(hits_.size(), part, [&](uint64_t b, uint64_t e, unsigned) {
      Rgba32f *image = images_[b / part].data();
      for (uint64_t i = b; i < e; ++i) {
        Rgba32f &cell = image[hits_[i].pixel];
        cell.r += hits_[i].value.r;
        cell.g += hits_[i].value.g;
        cell.b += hits_[i].value.b;
        cell.a += hits_[i].value.a;
      }
    });
    pool_.parallelFor(kPixels, pool_.chunkFor(kPixels, 4096),
                      [&](uint64_t b, uint64_t e, unsigned) {
                        for (uint64_t p = b; p < e; ++p) {
                          Rgba32f sum{0, 0, 0, 0};
                          for (auto &image : images_)
                            sum = {sum.r + image[p].r, sum.g + image[p].g, sum.b + image[p].b,
                                   sum.a + image[p].a};
                          output_[p] = sum;
                        }
                      });
  }

private:
  static constexpr uint64_t kPixels = uint64_t(kWidth) * kHeight;
  const std::vector<ek::SplatSample> &hits_;
  unsigned workers_;
  ek::WorkerPool pool_;
  std::vector<std::vector<Rgba32f>> images_;
  std::vector<Rgba32f> output_;
};

void runScene(EKContext *context, const Scene &scene, const ek::bench::Options &options) {
  ek::Device &device = *context->backend;
  const ek::Frame frame = ek::buildFrame(scene.camera, scene.settings);
  const uint64_t pixels = uint64_t(kWidth) * kHeight;
  const uint64_t work = context->count * uint64_t(frame.repopulation + 1) * frame.samples;
  const ek::SplatArgs splat{frame, context->positions.get(),  context->colors.get(), nullptr,
                            work,  context->accumulator.get()};
  // The resolve writes both images, as a caller asking for both gets them (on a GPU into the
  // context's own copies, on the CPU straight into the caller's).
  std::vector<Rgba8> hostImage8;
  std::vector<Rgba32f> hostImageFloat;
  Rgba8 *image8 = context->image.get();
  Rgba32f *imageFloat = context->imageFloat.get();
  if (device.usesHostMemory()) {
    hostImage8.resize(pixels);
    hostImageFloat.resize(pixels);
    image8 = hostImage8.data();
    imageFloat = hostImageFloat.data();
  }
  const ek::ResolveArgs resolve{context->accumulator.get(), image8, imageFloat, int32_t(pixels),
                                scene.settings.exposure};
  const uint32_t splatBlocks = ek::blocksFor(device, work, ek::kBlockSize);
  const uint32_t resolveBlocks = uint32_t((pixels + 255) / 256);

  // The CPU clears only what was written since the last clear, so each is timed after a splat.
  auto clear = [&] {
    device.fillAsync(context->accumulator.get(), 0, pixels * 16);
    device.synchronize();
  };
  auto splatOnce = [&] {
    device.launch(splatBlocks, splat);
    device.synchronize();
  };
  const double clearMs = medianMs(options.repeat, clear, splatOnce);
  const double resolveMs = medianMs(options.repeat, [&] {
    device.launch(resolveBlocks, resolve);
    device.synchronize();
  });
  const double renderMs = medianMs(options.repeat, [&] {
    ekRender(context, &scene.camera, &scene.settings, nullptr, 0, nullptr, nullptr, nullptr);
  });

  const std::vector<ek::SplatSample> hits = placeSamples(context, frame);
  const char *limitName = "scatter limit";
  Turns turns{};
  if (options.device == EK_DEVICE_CPU) {
    CpuScatterLimit limit(hits);
    turns = alternatedTimes(options.repeat, splatOnce, clear, [&] { limit.run(); });
  } else {
    turns.splat = medianTimes(options.repeat, splatOnce, clear);
#if EK_HAS_CUDA
    turns.limit.wallMs = ek::bench::bareAtomicMs(hits, pixels, options.repeat);
    turns.ratio.wallMs = turns.limit.wallMs / turns.splat.wallMs;
    limitName = "bare 4x atomicAdd";
#endif
  }
  const double splatMs = turns.splat.wallMs, limitMs = turns.limit.wallMs;
  const double samples = double(work);
  std::printf("%-14s %9.0f samples  %6.1f%% in image\n", scene.name.c_str(), samples,
              100.0 * double(hits.size()) / samples);
  std::printf("  splat          %8.2f ms  %10.3g samples/s\n", splatMs, samples / splatMs * 1e3);
  std::printf("  %-14s %8.2f ms  %10.3g samples/s\n", limitName, limitMs, samples / limitMs * 1e3);
  std::printf("  ratio splat / limit speed: %.2f\n", turns.ratio.wallMs);
  if (options.device == EK_DEVICE_CPU)
    std::printf("  CPU time: splat %.2f ms, limit %.2f ms, ratio %.2f\n", turns.splat.cpuMs,
                turns.limit.cpuMs, turns.ratio.cpuMs);
  std::printf("  clear %.2f ms, resolve %.2f ms (%.0f%% of the splat), whole ekRender %.2f ms\n",
              clearMs, resolveMs, 100.0 * resolveMs / splatMs, renderMs);
}

} // namespace

int main(int argc, char **argv) {
  ek::bench::Options options;
  options.repeat = 7;
  if (!ek::bench::parseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: bench_additive [--device cpu|cuda] [--particles N] [--repeat N]\n");
    return 2;
  }
  EKContext *context = ekCreate(options.device);
  char info[256] = "";
  if (!context || ekLastError(context)[0] || ekDeviceInfo(context, info, sizeof info)) {
    std::fprintf(stderr, "bench_additive: %s\n", ekLastError(context));
    return 1;
  }
  std::printf("device: %s\n%llu particles x %d samples into %d x %d\n\n", info,
              (unsigned long long)options.particles, kSamples, kWidth, kHeight);

  std::vector<Scene> scenes;
  Scene galaxy{"test cloud", lookAt({0, 120, 220}, 45), benchSettings(options.particles)};
  Scene lens = galaxy;
  lens.name = "cloud + lens";
  lens.camera.aperture = 3;
  lens.camera.focusDistance = 250;
  Scene uniform{"uniform box", lookAt({0, 0, 160}, 60), benchSettings(options.particles)};
  Scene blob{"gaussian blob", lookAt({0, 0, 160}, 60), benchSettings(options.particles)};
  std::vector<uint8_t> sizing8(size_t(kWidth) * kHeight * 4);
  std::vector<float> sizingFloat(size_t(kWidth) * kHeight * 4);
  for (const Scene *scene : {&galaxy, &lens, &uniform, &blob}) {
    const bool ok = scene == &uniform ? uploadCloud(context, options.particles, false)
                    : scene == &blob  ? uploadCloud(context, options.particles, true)
                                      : ekGenerateTestCloud(context, options.particles, 1, 0) == 0;
    // A first render sizes the image buffers the timed passes use.
    if (!ok || ekRender(context, &scene->camera, &scene->settings, nullptr, 0, sizing8.data(),
                        sizingFloat.data(), nullptr) != 0) {
      std::fprintf(stderr, "bench_additive: %s\n", ekLastError(context));
      return 1;
    }
    runScene(context, *scene, options);
  }
  ekDestroy(context);

  std::printf("first frame of a fresh context, test cloud, 8-bit image:\n");
  std::vector<uint8_t> image8(size_t(kWidth) * kHeight * 4);
  for (const uint64_t count : {uint64_t(1000), options.particles}) {
    ek::bench::FirstFrame f;
    const bool ok = ek::bench::measureFirstFrame(
        options.device, options.repeat,
        [&](EKContext *c) { return ekGenerateTestCloud(c, count, 1, 0) == 0; },
        [&](EKContext *c) {
          return ekRender(c, &galaxy.camera, &galaxy.settings, nullptr, 0, image8.data(), nullptr,
                          nullptr);
        },
        f);
    if (!ok)
      return 1;
    ek::bench::printFirstFrame((std::to_string(count) + " particles").c_str(), f);
  }
  return 0;
}
