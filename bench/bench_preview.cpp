// The plug-in's live preview in the stand-in host on the CPU backend: the cost of an update when
// nothing changed, the particle read of 1,000,000 particles beside the bare host accessor calls,
// and full updates while the time slider moves.
//
//   bench_preview [--particles N] [--repeat N]
//
// The plug-in module and the renderer library are taken from this program's folder.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "bench_options.h"
#include "ekpreview/particle_upload.h"
#include "ekpreview/plugin_ids.h"
#include "ekpreview/renderer_binding.h"
#include "host.h"
#include "host/connection.h"
#include "host/document.h"
#include "host/particle_system.h"
#include "platform/dynamic_library.h"
#include "platform/program_files.h"
#include "scene/builders.h"

namespace {

namespace fs = std::filesystem;
namespace plugin = ek::plugin;
using Clock = std::chrono::steady_clock;

constexpr int32_t kFps = 30;
constexpr int32_t kLifeFrames = 31;
constexpr int32_t kSettledFrame = 30; // every particle born so far is still alive
constexpr int32_t kPreviewWidth = 640, kPreviewHeight = 360;
constexpr uint64_t kSliderParticles = 100000;
constexpr int kUnchangedUpdates = 2000;
constexpr int kSliderMoves = 40;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

fs::path programFolder() { return ek::platform::executablePath().parent_path(); }

// A scene whose emitter keeps `particles` particles alive from frame 30 on, all moving.
std::unique_ptr<standin::Document> sceneWith(uint64_t particles) {
  auto document = std::make_unique<standin::Document>();
  document->fps = kFps;
  standin::CameraSetup camera;
  camera.eye = {0.0, 100.0, -600.0};
  camera.target = {0.0, 100.0, 0.0};
  document->addObject(standin::makeCamera(camera));
  document->activeCameraName = camera.name;
  standin::Emitter e;
  e.halfSize = {100.0, 0.0, 100.0};
  e.rate = double(particles) * kFps / kLifeFrames;
  e.lifeFrames = kLifeFrames;
  e.velocity = {0.0, 150.0, 0.0};
  e.spreadDegrees = 30.0;
  e.speedVariation = 0.3;
  document->particles.emitters.push_back(e);
  return document;
}

struct PreviewRun {
  std::unique_ptr<standin::Host> host;
  standin::DialogWindow *window = nullptr;
  standin::Document *document = nullptr;
};

// The plug-in loaded into a host on the scene, its dialog open with a preview area of 640 x 360.
PreviewRun openPreview(uint64_t particles) {
  PreviewRun run;
  run.host = std::make_unique<standin::Host>();
  run.document = &run.host->addDocument(sceneWith(particles));
  run.host->setFrame(*run.document, kSettledFrame);
  const standin::PluginLoad load = run.host->loadPlugin(programFolder());
  if (load.status != standin::PluginLoadStatus::Loaded ||
      !run.host->runCommand(plugin::kCommandId)) {
    std::fprintf(stderr, "bench_preview: the plug-in did not load: %s\n", load.message.c_str());
    std::exit(1);
  }
  run.window = run.host->dialog(plugin::kCommandId);
  run.host->setUserAreaSize(*run.window, plugin::control::kPreviewArea, kPreviewWidth,
                            kPreviewHeight);
  return run;
}

void unchangedUpdates() {
  PreviewRun run = openPreview(kSliderParticles);
  run.host->advance(plugin::kTimerIntervalMs * 3.0); // the first update reads and renders
  const auto start = Clock::now();
  for (int i = 0; i < kUnchangedUpdates; ++i) {
    run.host->advance(plugin::kTimerIntervalMs);
  }
  const double us = msSince(start) * 1000.0 / kUnchangedUpdates;
  std::printf("update with nothing changed        %8.2f us   (goal < 20 us; host timer included)\n",
              us);
}

void sliderUpdates(int repeat) {
  PreviewRun run = openPreview(kSliderParticles);
  run.host->advance(plugin::kTimerIntervalMs);
  double best = 1e300;
  for (int r = 0; r < repeat; ++r) {
    double total = 0.0;
    for (int i = 1; i <= kSliderMoves; ++i) {
      run.host->setFrame(*run.document, kSettledFrame + i + r * kSliderMoves); // the host's step
      const auto start = Clock::now();
      run.host->advance(plugin::kTimerIntervalMs); // read + render + bitmap
      total += msSince(start);
    }
    best = std::min(best, total / kSliderMoves);
  }
  std::printf("time slider update, 100k at 640x360 %7.2f ms = %5.1f updates/s (goal >= 25)\n", best,
              1000.0 / best);
}

void particleRead(uint64_t particles, int repeat) {
  standin::Host host;
  standin::Document &document = host.addDocument(sceneWith(particles));
  host.setFrame(document, kSettledFrame);
  if (ek::host::connect(&host.api(), 0) != ek::host::ConnectResult::Connected ||
      !ek::host::ParticleSystem::loadLibrary()) {
    std::fprintf(stderr, "bench_preview: could not connect to the stand-in host\n");
    std::exit(1);
  }
  plugin::RendererBinding binding;
  char message[plugin::kBindingMessageSize] = {};
  const fs::path library = programFolder() / ek::platform::sharedLibraryFileName("emberkit");
  if (!plugin::bindLibrary(binding, library.string().c_str(), message, plugin::Language::English)) {
    std::fprintf(stderr, "bench_preview: %s\n", message);
    std::exit(1);
  }
  EKContext *context = binding.create(EK_DEVICE_CPU);
  const auto system = ek::host::ParticleSystem::of(*ek::host::Document::active());
  const int32_t n = system->count();

  double readBest = 1e300, callsBest = 1e300;
  plugin::ParticleUpload upload;
  for (int r = 0; r < repeat + 1; ++r) { // the first read also reserves and touches memory
    auto start = Clock::now();
    const auto failure = plugin::readParticles(upload, {binding, context}, system, true, 1.0 / kFps,
                                               plugin::Language::English);
    const double readMs = msSince(start);
    if (failure) {
      std::fprintf(stderr, "bench_preview: %s\n", failure->c_str());
      std::exit(1);
    }
    start = Clock::now();
    ek::host::Vector p{}, v{};
    std::array<float, 3> rgb{};
    double sink = 0.0;
    for (int32_t j = 0; j < n; ++j) {
      if (system->alive(j) && system->position(j, p) && system->color(j, rgb) &&
          system->velocity(j, v)) {
        sink += p[0] + v[0] + rgb[0];
      }
    }
    const double callsMs = msSince(start);
    if (sink == 1e300) {
      std::puts("");
    }
    if (r > 0) {
      readBest = std::min(readBest, readMs);
      callsBest = std::min(callsBest, callsMs);
    }
  }
  std::printf("readParticles, %llu with velocities %7.2f ms   (goal < 40 ms)\n",
              static_cast<unsigned long long>(upload.particleCount), readBest);
  std::printf("  host accessor calls alone         %7.2f ms\n", callsBest);
  std::printf(
      "  the plug-in's own work            %7.2f ms = %.2f x the accessor calls (goal < 1)\n",
      readBest - callsBest, (readBest - callsBest) / callsBest);
  binding.destroy(context);
  ek::host::disconnect();
}

} // namespace

int main(int argc, char **argv) {
  ek::bench::Options options;
  if (!ek::bench::parseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: bench_preview [--particles N] [--repeat N]\n");
    return 2;
  }
  unchangedUpdates();
  sliderUpdates(options.repeat);
  particleRead(options.particles, options.repeat);
  return 0;
}
