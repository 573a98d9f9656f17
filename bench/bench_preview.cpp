// The plug-in's live preview in the stand-in host on the CPU backend: the cost of an update when
// nothing changed, the particle read of 1,000,000 particles beside the bare host accessor calls,
// and full updates while the time slider moves, in the additive look and in the volumetric look
// (repopulation 3, two shadowed lights, the dialog's other defaults). Last, the first volumetric
// render of a fresh context beside a later one.
//
//   bench_preview [--particles N] [--repeat N]
//
// The plug-in module and the renderer library are taken from this program's folder.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "bench_options.h"
#include "ekpreview/dialog_settings.h"
#include "ekpreview/particle_upload.h"
#include "ekpreview/plugin_ids.h"
#include "ekpreview/renderer_binding.h"
#include "host.h"
#include "host/connection.h"
#include "host/document.h"
#include "host/host_ids.h"
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
constexpr int32_t kVolumetricRepopulation = 3;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

fs::path programFolder() { return ek::platform::executablePath().parent_path(); }

// The two shadowed lights of the volumetric cases: a warm key spot and a cool rim point.
void addShadowedLights(standin::Document &document) {
  standin::LightSetup key;
  key.name = "Key spot";
  key.lightType = ek::host::light::kTypeSpot;
  key.position = {-450.0, 500.0, -150.0};
  key.target = standin::Vec3{0.0, 120.0, 0.0};
  key.color = {1.0, 0.85, 0.65};
  key.intensity = 2.0;
  key.outerAngle = 35.0;
  key.innerAngle = 20.0;
  key.shadows = true;
  document.addObject(standin::makeLight(key));
  standin::LightSetup rim;
  rim.name = "Rim point";
  rim.lightType = ek::host::light::kTypeOmni;
  rim.position = {300.0, 200.0, 250.0};
  rim.color = {0.4, 0.6, 1.0};
  rim.intensity = 1.2;
  rim.falloff = ek::host::light::kFalloffInverseSquareClamped;
  rim.falloffRadius = 600.0;
  rim.shadows = true;
  document.addObject(standin::makeLight(rim));
}

// A scene whose emitter keeps `particles` particles alive from frame 30 on, all moving; `lit`
// adds the two shadowed lights.
std::unique_ptr<standin::Document> sceneWith(uint64_t particles, bool lit = false) {
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
  if (lit) {
    addShadowedLights(*document);
  }
  return document;
}

struct PreviewRun {
  std::unique_ptr<standin::Host> host;
  standin::DialogWindow *window = nullptr;
  standin::Document *document = nullptr;
};

// The plug-in loaded into a host on the scene, its dialog open with a preview area of 640 x 360.
PreviewRun openPreview(uint64_t particles, bool lit = false) {
  PreviewRun run;
  run.host = std::make_unique<standin::Host>();
  run.document = &run.host->addDocument(sceneWith(particles, lit));
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

// Images the plug-in has set into the preview area so far.
size_t imagesShown(const PreviewRun &run) {
  return size_t(std::count_if(
      run.host->previewEvents().begin(), run.host->previewEvents().end(),
      [](const standin::PreviewEvent &e) { return e.kind == standin::PreviewEvent::Kind::Image; }));
}

// Runs `step` and returns its time; exits when it did not put a new image on screen, so that no
// figure stands for an update that rendered nothing.
template <typename Step> double timedRender(const PreviewRun &run, const char *what, Step &&step) {
  const size_t before = imagesShown(run);
  const auto start = Clock::now();
  step();
  const double ms = msSince(start);
  if (imagesShown(run) == before) {
    std::fprintf(stderr, "bench_preview: %s showed no new image\n", what);
    std::exit(1);
  }
  return ms;
}

// Switches the open dialog to the volumetric look with repopulation 3.
void chooseVolumetric(PreviewRun &run) {
  if (!run.host->userSetNumber(*run.window, plugin::control::kRepopulation,
                               kVolumetricRepopulation) ||
      !run.host->userChoose(*run.window, plugin::control::kMode, plugin::kModeVolumetric)) {
    std::fprintf(stderr, "bench_preview: the volumetric look could not be chosen\n");
    std::exit(1);
  }
}

// Full updates while the time slider moves: each reads the new frame's particles and renders.
void sliderUpdates(int repeat, bool volumetric) {
  PreviewRun run = openPreview(kSliderParticles, volumetric);
  if (volumetric) {
    chooseVolumetric(run);
  }
  run.host->advance(plugin::kTimerIntervalMs);
  double best = 1e300;
  for (int r = 0; r < repeat; ++r) {
    double total = 0.0;
    for (int i = 1; i <= kSliderMoves; ++i) {
      run.host->setFrame(*run.document, kSettledFrame + i + r * kSliderMoves); // the host's step
      total += timedRender(run, "a time slider update", [&] {
        run.host->advance(plugin::kTimerIntervalMs); // read + render + bitmap
      });
    }
    best = std::min(best, total / kSliderMoves);
  }
  std::printf("time slider update, 100k at 640x360 %7.2f ms = %5.1f updates/s (goal >= 25)\n", best,
              1000.0 / best);
}

// The first volumetric render of a context, when the user switches an open window to the
// volumetric look, beside a later switch back to it (both render the same particles, which are
// not read again). Medians over `repeat` fresh windows.
void firstVolumetricRender(int repeat) {
  std::vector<double> first, later;
  for (int r = 0; r < repeat; ++r) {
    PreviewRun run = openPreview(kSliderParticles, true);
    if (!run.host->userSetNumber(*run.window, plugin::control::kRepopulation,
                                 kVolumetricRepopulation)) {
      std::fprintf(stderr, "bench_preview: the repopulation could not be set\n");
      std::exit(1);
    }
    run.host->advance(plugin::kTimerIntervalMs); // the window's first, additive, image
    auto switchTo = [&](int32_t mode) {
      return [&run, mode] {
        if (!run.host->userChoose(*run.window, plugin::control::kMode, mode)) {
          std::fprintf(stderr, "bench_preview: the look could not be chosen\n");
          std::exit(1);
        }
      };
    };
    first.push_back(
        timedRender(run, "the first volumetric render", switchTo(plugin::kModeVolumetric)));
    for (int i = 0; i < 2; ++i) {
      timedRender(run, "an additive render", switchTo(plugin::kModeAdditive));
      later.push_back(
          timedRender(run, "a later volumetric render", switchTo(plugin::kModeVolumetric)));
    }
  }
  auto median = [](std::vector<double> &v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double firstMs = median(first), laterMs = median(later);
  std::printf("first volumetric render of a context %6.2f ms, a later one %6.2f ms, ratio %.2f "
              "(goal <= 2)\n",
              firstMs, laterMs, firstMs / laterMs);
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
  std::printf("additive look:\n");
  sliderUpdates(options.repeat, false);
  std::printf("volumetric look, repopulation %d, two shadowed lights:\n", kVolumetricRepopulation);
  sliderUpdates(options.repeat, true);
  firstVolumetricRender(std::max(options.repeat, 3));
  particleRead(options.particles, options.repeat);
  return 0;
}
