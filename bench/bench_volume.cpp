// Volumetric render of the test cloud with the time of every pass, beside a memory baseline.
//
// Renders 1,000,000 particles lit by a spot and a point light with shadows (medium quality:
// 512 x 512 maps of 64 slices, 32 camera slices) at 1920 x 1080. In the same run it times a
// memset plus one read-and-write pass over buffers of the sizes of the shadow maps and the
// camera depth map, the least the clear and prefix passes can cost.
//
// Last, the first frame of a fresh context beside a later frame of the same request.
//
// With --preview it renders the shape of the plug-in's volumetric preview instead: 640 x 360,
// repopulation 3, and 100,000 particles unless --particles gives another count.
//
//   bench_volume [--device cpu|cuda] [--particles N] [--repeat N] [--preview]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_scene.h"
#include "first_frame.h"
#include "frame_builder.h"
#include "render_volume.h"
#if EK_HAS_CUDA
#include "cuda_baselines.h"
#endif

namespace {

using ek::bench::msSince;

// What is rendered: the benchmark's own frame, or the plug-in's volumetric preview.
struct Shape {
  int width = ek::bench::kWidth, height = ek::bench::kHeight;
  int32_t repopulation = 0;
};

constexpr uint64_t kPreviewParticles = 100000;

// Takes --preview out of the command line, for the options shared by the benchmarks to read the
// rest; the preview's shape when it was there, and its particle count unless one is given.
Shape takeShape(int &argc, char **argv, uint64_t &particles) {
  Shape shape;
  bool preview = false, countGiven = false;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    countGiven = countGiven || arg == "--particles";
    if (arg == "--preview")
      preview = true;
    else
      argv[kept++] = argv[i];
  }
  argc = kept;
  if (preview) {
    shape = {640, 360, 3};
    if (!countGiven)
      particles = kPreviewParticles;
  }
  return shape;
}

// memset plus one read-and-write pass over host memory of `floats` floats, on all cores.
double cpuMemoryPassMs(uint64_t floats) {
  std::vector<float> data(floats);
  const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
  auto onAllCores = [&](auto &&body) {
    std::vector<std::thread> threads;
    const uint64_t part = floats / workers + 1;
    for (unsigned w = 0; w < workers; ++w)
      threads.emplace_back([&, w] {
        const uint64_t begin = std::min(floats, w * part), end = std::min(floats, begin + part);
        body(data.data() + begin, end - begin);
      });
    for (std::thread &t : threads)
      t.join();
  };
  double ms = 0;
  for (int i = 0; i < 2; ++i) { // the first run touches the pages
    const auto start = std::chrono::steady_clock::now();
    onAllCores([](float *p, uint64_t n) { std::memset(p, 0, n * sizeof(float)); });
    onAllCores([](float *p, uint64_t n) {
      for (uint64_t k = 0; k < n; ++k)
        p[k] = p[k] * 0.5f + 1.0f;
    });
    ms = msSince(start);
  }
  return ms;
}

double memoryBaselineMs(int device, uint64_t floats) {
#if EK_HAS_CUDA
  if (device != EK_DEVICE_CPU)
    return ek::bench::memoryPassMs(floats);
#endif
  (void)device;
  return cpuMemoryPassMs(floats);
}

} // namespace

int main(int argc, char **argv) {
  ek::bench::Options o;
  const Shape shape = takeShape(argc, argv, o.particles);
  if (!ek::bench::parseOptions(argc, argv, o)) {
    std::fprintf(stderr, "usage: bench_volume [--device cpu|cuda] [--particles N] [--repeat N] "
                         "[--preview]\n");
    return 2;
  }
  const int width = shape.width, height = shape.height;
  char info[256] = "";
  EKContext *context = ek::bench::openTestCloud("bench_volume", o, 0, info, sizeof info);
  if (!context)
    return 1;
  const EKCamera camera = ek::bench::sceneCamera();
  EKRenderSettings settings{};
  settings.width = width;
  settings.height = height;
  settings.exposure = 1;
  settings.samples = 1;
  settings.repopulation = shape.repopulation;
  ek::bench::setMediumVolume(settings);
  EKLight lights[ek::bench::kSceneLightCount];
  ek::bench::sceneLights(lights);

  // A first render sizes every buffer; the timed ones allocate nothing.
  std::vector<float> image(size_t(width) * height * 4);
  if (ekRender(context, &camera, &settings, lights, 2, nullptr, image.data(), nullptr) != 0) {
    std::fprintf(stderr, "bench_volume: %s\n", ekLastError(context));
    return 1;
  }
  ek::Device &device = *context->backend;
  const ek::Frame frame = ek::buildFrame(camera, settings);
  ek::PassTimer timer(device);
  // The float image, as ekRender gives it: on a GPU the context's copy, on the CPU the caller's.
  Rgba32f *resolveTarget = device.usesHostMemory() ? reinterpret_cast<Rgba32f *>(image.data())
                                                   : context->imageFloat.get();
  double resolveMs = 0, renderMs = 0;
  for (int r = 0; r < o.repeat; ++r) {
    timer.restart();
    ek::renderVolume(context, camera, settings, frame, lights, 2, nullptr, &timer);
    const auto start = std::chrono::steady_clock::now();
    device.launch(uint32_t((uint64_t(width) * height + 255) / 256),
                  ek::ResolveVolArgs{context->accumulator.get(), context->totalDepth.get(), nullptr,
                                     resolveTarget, width * height, settings.exposure});
    device.synchronize();
    resolveMs += msSince(start);
    const auto whole = std::chrono::steady_clock::now();
    ekRender(context, &camera, &settings, lights, 2, nullptr, image.data(), nullptr);
    renderMs += msSince(whole);
  }

  const uint64_t shadowFloats = context->shadowMaps.size();
  const uint64_t depthFloats = uint64_t(width) * height * settings.cameraSlices;
  const double baselineMs = memoryBaselineMs(o.device, shadowFloats + depthFloats);
  std::printf("device: %s\n%llu particles, repopulation %d, spot + point light with shadows, "
              "%d x %d\n\n",
              info, (unsigned long long)o.particles, shape.repopulation, width, height);
  for (int p = 0; p < ek::PassTimer::Count; ++p)
    std::printf("  %-14s %8.1f ms\n", ek::PassTimer::kNames[p], timer.ms[p] / o.repeat);
  std::printf("  %-14s %8.1f ms\n", "resolve", resolveMs / o.repeat);
  const double clearsAndPrefix =
      (timer.ms[ek::PassTimer::Clears] + timer.ms[ek::PassTimer::ShadowPrefix] +
       timer.ms[ek::PassTimer::CameraPrefix]) /
      o.repeat;
  std::printf("\nshadow maps %.0f MB, camera depth map %.0f MB\n", shadowFloats * 4 / 1048576.0,
              depthFloats * 4 / 1048576.0);
  std::printf("clears + prefix passes %.1f ms; memset + read-write baseline %.1f ms; ratio %.2f "
              "(goal <= 1.5)\n",
              clearsAndPrefix, baselineMs, clearsAndPrefix / baselineMs);
  std::printf("whole ekRender %.1f ms (goal < 250 ms on the 2-core CPU)\n", renderMs / o.repeat);
  ekDestroy(context);

  ek::bench::FirstFrame f;
  if (!ek::bench::measureFirstFrame(
          o.device, o.repeat,
          [&](EKContext *c) { return ekGenerateTestCloud(c, o.particles, 1, 0) == 0; },
          [&](EKContext *c) {
            return ekRender(c, &camera, &settings, lights, 2, nullptr, image.data(), nullptr);
          },
          f))
    return 1;
  std::printf("\nfirst frame of a fresh context:\n");
  ek::bench::printFirstFrame("volumetric, float image", f);
  return 0;
}
