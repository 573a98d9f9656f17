// Throughput of ekrender's frame sequence: each frame's particle file read and rendered, then its
// image written, with the writer on its own thread (FrameWriter, as ekrender runs it) beside the
// two halves timed alone in the same run. The best a pipeline can reach is one frame per
// max(render, write); the figure printed is the pipelined frames per second as a share of that.
//
//   bench_sequence [--frames N] [--points N] [--size WxH] [--format png|png16|exr]
//                  [--cache vdb|ply] [--repeat N] [--device cpu|cuda]
//
// The cache is written by the benchmark (a swirl of moving points) into a temporary folder.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <time.h>
#include <unistd.h>

#include "emberkit.h"
#include "frame_pattern.h"
#include "frame_writer.h"
#include "particle_file.h"
#include "synthetic_cache.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Setup {
  int frames = 12;
  uint64_t points = 200000;
  int width = 1280, height = 720;
  std::string format = "png", cache = "vdb";
  int repeat = 3;
  int device = EK_DEVICE_CPU;
};

bool parse(int argc, char **argv, Setup &s) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--frames")
      s.frames = std::max(2, std::atoi(value.c_str()));
    else if (name == "--points")
      s.points = std::max<uint64_t>(1, std::strtoull(value.c_str(), nullptr, 10));
    else if (name == "--size") {
      if (std::sscanf(value.c_str(), "%dx%d", &s.width, &s.height) != 2 || s.width < 1 ||
          s.height < 1)
        return false;
    } else if (name == "--format" && (value == "png" || value == "png16" || value == "exr"))
      s.format = value;
    else if (name == "--cache" && (value == "vdb" || value == "ply"))
      s.cache = value;
    else if (name == "--repeat")
      s.repeat = std::max(1, std::atoi(value.c_str()));
    else if (name == "--device" && (value == "cpu" || value == "cuda"))
      s.device = value == "cpu" ? EK_DEVICE_CPU : 0;
    else
      return false;
  }
  return argc % 2 == 1;
}

// Processor time of every thread of the process so far.
double cpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

[[noreturn]] void die(const std::string &message) {
  std::fprintf(stderr, "bench_sequence: %s\n", message.c_str());
  std::exit(1);
}

class Sequence {
public:
  Sequence(const Setup &setup, EKContext *context, const fs::path &folder)
      : setup_(setup), context_(context), folder_(folder) {
    ekrender::findFramePattern((folder / ("cache.####." + setup.cache)).string(), cache_);
    for (int frame = 1; frame <= setup.frames; ++frame) {
      std::string error;
      const auto points = ekrender::swirlPoints(setup.points, frame);
      const std::string path = cache_.name(frame);
      if (!(setup.cache == "vdb" ? ekrender::writeVdbCache(path, points, error)
                                 : ekrender::writePlyCache(path, points, error)))
        die(error);
    }
    camera_.eye = {0, 12, 26};
    camera_.up = {0, 1, 0};
    camera_.fovY = 45;
  }

  // What ekrender does on its own thread for a frame: read the cache file, upload, render.
  void render(int frame, std::vector<float> &image) {
    ekrender::ParticleData data;
    std::string error;
    if (!ekrender::readParticleFile(cache_.name(frame), data, error))
      die(error);
    const uint64_t n = data.positions.size();
    if (ekReserve(context_, n, !data.velocities.empty()) != 0 ||
        ekUpload(context_, data.positions.data(),
                 data.colors.empty() ? nullptr : data.colors.data(),
                 data.velocities.empty() ? nullptr : data.velocities.data(), n, 0) != 0 ||
        ekSetCount(context_, n) != 0)
      die(ekLastError(context_));
    EKRenderSettings s{};
    s.width = setup_.width;
    s.height = setup_.height;
    s.brightness = 0.15f * float(setup_.width) * float(setup_.height) / float(n);
    s.exposure = 1;
    s.radius = 0.05f;
    s.samples = 1;
    s.seed = uint32_t(frame);
    if (ekRender(context_, &camera_, &s, nullptr, 0, nullptr, image.data(), nullptr) != 0)
      die(ekLastError(context_));
    for (size_t i = 3; i < image.size(); i += 4)
      image[i] = 1.0f;
  }

  // What ekrender's writer thread does for a frame.
  bool write(int frame, const std::vector<float> &image) const {
    const std::string path = (folder_ / ("frame_" + std::to_string(frame) + "." +
                                         (setup_.format == "exr" ? "exr" : "png")))
                                 .string();
    if (setup_.format == "exr")
      return ekSaveEXR(path.c_str(), setup_.width, setup_.height, image.data()) == 0;
    return ekSavePNG(path.c_str(), setup_.width, setup_.height, image.data(),
                     setup_.format == "png16") == 0;
  }

  size_t imageSize() const { return size_t(setup_.width) * size_t(setup_.height) * 4; }

  // Milliseconds per frame of the renders alone; `kept` holds the last image.
  double renderAlone(std::vector<float> &kept) {
    const auto start = Clock::now();
    for (int frame = 1; frame <= setup_.frames; ++frame)
      render(frame, kept);
    return msSince(start) / setup_.frames;
  }

  double writeAlone(const std::vector<float> &image) const {
    const auto start = Clock::now();
    for (int frame = 1; frame <= setup_.frames; ++frame)
      if (!write(frame, image))
        die("a write failed");
    return msSince(start) / setup_.frames;
  }

  // Render and write on one thread, one after the other.
  double oneThread(std::vector<float> &image) {
    const auto start = Clock::now();
    for (int frame = 1; frame <= setup_.frames; ++frame) {
      render(frame, image);
      if (!write(frame, image))
        die("a write failed");
    }
    return msSince(start) / setup_.frames;
  }

  double pipelined() {
    const auto start = Clock::now();
    int reported = 0;
    {
      ekrender::FrameWriter writer(imageSize(), [&reported](const std::string &) { ++reported; });
      for (int frame = 1; frame <= setup_.frames; ++frame) {
        std::vector<float> *image = writer.acquire();
        if (!image)
          break;
        render(frame, *image);
        writer.submit(
            image,
            [this, frame](const std::vector<float> &pixels, std::string &error) {
              if (write(frame, pixels))
                return true;
              error = "a write failed";
              return false;
            },
            "");
      }
      std::string error;
      if (!writer.finish(error))
        die(error);
    }
    if (reported != setup_.frames)
      die("the pipeline reported " + std::to_string(reported) + " frames");
    return msSince(start) / setup_.frames;
  }

private:
  const Setup &setup_;
  EKContext *context_;
  fs::path folder_;
  ekrender::FramePattern cache_;
  EKCamera camera_{};
};

} // namespace

int main(int argc, char **argv) {
  Setup setup;
  if (!parse(argc, argv, setup)) {
    std::fprintf(stderr, "usage: bench_sequence [--frames N] [--points N] [--size WxH] "
                         "[--format png|png16|exr] [--cache vdb|ply] [--repeat N] "
                         "[--device cpu|cuda]\n");
    return 2;
  }
  EKContext *context = ekCreate(setup.device);
  if (!context || ekLastError(context)[0] != '\0')
    die(context ? ekLastError(context) : "no renderer context");
  char info[256];
  ekDeviceInfo(context, info, sizeof info);
  const fs::path folder =
      fs::temp_directory_path() / ("bench_sequence_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  double render = 1e300, write = 1e300, serial = 1e300, piped = 1e300;
  double renderCpu = 1e300, writeCpu = 1e300; // processor time per frame, all threads
  {
    Sequence sequence(setup, context, folder);
    std::vector<float> image(sequence.imageSize());
    sequence.render(1, image); // warm the caches and the worker threads
    // Each measure's best of the repeats, taken in turn so that a slow spell of a shared machine
    // does not fall on one of them alone.
    for (int r = 0; r < setup.repeat; ++r) {
      double cpu = cpuMs();
      render = std::min(render, sequence.renderAlone(image));
      renderCpu = std::min(renderCpu, (cpuMs() - cpu) / setup.frames);
      cpu = cpuMs();
      write = std::min(write, sequence.writeAlone(image));
      writeCpu = std::min(writeCpu, (cpuMs() - cpu) / setup.frames);
      serial = std::min(serial, sequence.oneThread(image));
      piped = std::min(piped, sequence.pipelined());
    }
  }
  fs::remove_all(folder);
  ekDestroy(context);

  const double bound = 1000.0 / std::max(render, write);
  std::printf("device: %s\n", info);
  std::printf("%d frames of %llu points (.%s cache), %dx%d %s, best of %d\n", setup.frames,
              (unsigned long long)setup.points, setup.cache.c_str(), setup.width, setup.height,
              setup.format.c_str(), setup.repeat);
  std::printf("  read + render alone   %8.1f ms/frame  %6.2f frames/s\n", render, 1000.0 / render);
  std::printf("  write alone           %8.1f ms/frame  %6.2f frames/s\n", write, 1000.0 / write);
  std::printf("  one thread, in turn   %8.1f ms/frame  %6.2f frames/s\n", serial, 1000.0 / serial);
  std::printf("  writer thread beside  %8.1f ms/frame  %6.2f frames/s\n", piped, 1000.0 / piped);
  std::printf("bound 1/max(render, write): %.2f frames/s; pipelined reaches %.2f of it "
              "(goal 0.85), %.2fx the one-thread run\n",
              bound, 1000.0 / piped / bound, serial / piped);
  // Where rendering runs on the same processor cores as the writer, the two share them: a frame
  // cannot take less than their processor time together spread over every core.
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const double shared = std::max(std::max(render, write), (renderCpu + writeCpu) / cores);
  std::printf("processor time per frame: render %.1f ms, write %.1f ms; on %u cores a frame takes "
              "at least %.1f ms: pipelined reaches %.2f of that\n",
              renderCpu, writeCpu, cores, shared, shared / piped);
  return 0;
}
