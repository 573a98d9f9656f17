// A 60-frame sequence export of the fountain example at 1280 x 720 through the stand-in host on
// the CPU backend, in each format, with the share of every part of the job's time: the simulation
// of the scene copy, reading the particles, rendering, handing the image to the preview area and
// writing the file. What is left is the job's own overhead (progress, names, summary). The job's
// time is what its timer steps took; the host's own work between them (drawing the preview area,
// running its timer) is shown apart.
//
//   bench_export [--frames N]
//
// The plug-in module and the renderer library are taken from this program's folder, the scene
// from the examples folder of the source tree.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "ekpreview/flarion_dialog.h"
#include "ekpreview/plugin_ids.h"
#include "host.h"
#include "host/connection.h"
#include "scene/scene_json.h"

namespace {

namespace fs = std::filesystem;
namespace plugin = ek::plugin;
using Clock = std::chrono::steady_clock;

constexpr int32_t kFirstFrame = 30;

fs::path programFolder() { return fs::read_symlink("/proc/self/exe").parent_path(); }

struct Result {
  double totalMs = 0.0;
  plugin::ExportTimings parts;
  int64_t files = 0;
};

Result exportSequence(int32_t format, int32_t frames, const fs::path &folder) {
  standin::Host host;
  standin::Document &document =
      host.addDocument(standin::loadSceneFile(fs::path(EXAMPLES_DIR) / "fountain.json"));
  document.render.width = 1280;
  document.render.height = 720;
  document.render.frameSequence = 0;
  document.render.from = standin::Time::ofFrame(kFirstFrame, document.fps);
  document.render.to = standin::Time::ofFrame(kFirstFrame + frames - 1, document.fps);
  document.render.step = 1;
  if (host.loadPlugin(programFolder()).status != standin::PluginLoadStatus::Loaded ||
      ek::host::connect(&host.api(), 0) != ek::host::ConnectResult::Connected) {
    std::fprintf(stderr, "bench_export: the plug-in did not load from %s\n",
                 programFolder().c_str());
    std::exit(1);
  }
  Result result;
  {
    // A dialog object of this program's own, so that its export timings can be read.
    plugin::FlarionDialog dialog(plugin::Language::English);
    dialog.open();
    standin::DialogWindow &window = *host.dialog(plugin::kCommandId);
    host.userChoose(window, plugin::control::kFormat, format);
    host.userSetBool(window, plugin::control::kLive, false);
    fs::remove_all(folder);
    fs::create_directories(folder);
    host.setFolderChoice(folder.string());
    const auto start = Clock::now();
    host.userPress(window, plugin::control::kExportSequence);
    while (window.find(plugin::control::kCancelExport)->enabled) {
      host.runTicks(1);
    }
    result.totalMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    result.parts = dialog.exportTimings();
  }
  for ([[maybe_unused]] const auto &entry : fs::directory_iterator(folder)) {
    ++result.files;
  }
  ek::host::disconnect();
  return result;
}

} // namespace

int main(int argc, char **argv) {
  int32_t frames = 60;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--frames" && i + 1 < argc) {
      frames = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: bench_export [--frames N]\n");
      return 2;
    }
  }
  const fs::path folder = fs::temp_directory_path() / "bench_export";
  const char *names[] = {"EXR", "PNG 16", "PNG 8"};
  std::printf("%d frames of the fountain at 1280 x 720 (after a %d-frame pre-roll), CPU backend\n",
              frames, kFirstFrame);
  std::printf("format   ms/frame  simulate    read  render    show   write  overhead   host "
              "outside the job\n");
  for (int32_t format = 0; format < 3; ++format) {
    const Result r = exportSequence(format, frames, folder);
    const plugin::ExportTimings &p = r.parts;
    const double overhead = p.jobMs - p.simulateMs - p.readMs - p.renderMs - p.showMs - p.writeMs;
    auto share = [&](double ms) { return 100.0 * ms / p.jobMs; };
    std::printf("%-7s %9.1f %8.1f%% %6.1f%% %6.1f%% %6.1f%% %6.1f%% %8.2f%% %8.1f ms/frame   (%lld "
                "files; goal: overhead < 2%%)\n",
                names[format], p.jobMs / frames, share(p.simulateMs), share(p.readMs),
                share(p.renderMs), share(p.showMs), share(p.writeMs), share(overhead),
                (r.totalMs - p.jobMs) / frames, static_cast<long long>(r.files));
  }
  std::filesystem::remove_all(folder);
  return 0;
}
