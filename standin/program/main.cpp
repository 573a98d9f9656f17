// flarion-host: runs the plug-in headless in the stand-in host on a scene file.
#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "host.h"
#include "platform/program_files.h"
#include "program/action_runner.h"
#include "program/control_lookup.h"
#include "program/options.h"
#include "program/report.h"
#include "scene/scene_json.h"
#include "ui/layout_text.h"
#include "ui/png_file.h"
#include "utf8_path.h"

namespace {

using namespace standin;
using program::Action;
using program::Options;

// Virtual time a tick lets pass while no open window has a timer: the plug-in's timer period.
constexpr double kIdleTickMs = 40.0;
constexpr int kExitUsage = 1;
constexpr int kExitPlugin = 2;
constexpr int kExitMisuse = 3;

std::filesystem::path programFolder(const std::string &argv0) {
  const std::filesystem::path self = ek::platform::executablePath();
  return (self.empty() ? std::filesystem::absolute(pathFromUtf8(argv0)) : self).parent_path();
}

// Lets the ticks of the run pass one at a time and does each action once its tick has passed.
void runTicks(Host &host, int32_t commandId, const Options &options) {
  std::vector<Action> actions = options.actions;
  std::stable_sort(actions.begin(), actions.end(),
                   [](const Action &a, const Action &b) { return a.tick < b.tick; });
  const int32_t lastTick = actions.empty() ? 0 : actions.back().tick;
  const int32_t total = std::max(options.ticks, lastTick);
  auto next = actions.begin();
  for (int32_t tick = 0;; ++tick) {
    for (; next != actions.end() && next->tick == tick; ++next) {
      const std::string when = "tick " + std::to_string(tick) + ": ";
      std::string done;
      try {
        done = program::applyAction(host, commandId, *next);
      } catch (const std::invalid_argument &refused) {
        throw std::invalid_argument(when + refused.what());
      }
      std::cout << when << done << "\n";
    }
    if (tick == total) {
      break;
    }
    if (host.runTicks(1) == 0) {
      host.advance(kIdleTickMs);
    }
  }
}

// Prints what the run left in the dialog and what the plug-in showed.
void report(const Host &host, const DialogWindow &window, const Options &options) {
  const bool quiet = options.quiet;
  std::cout << "\n";
  if (!quiet) {
    std::cout << describeDialog(window);
  } else if (const Control *status = statusLine(window)) {
    std::cout << "Status line: " << status->text << "\n";
  }
  for (const std::string &box : host.messageBoxes()) {
    std::cout << "Message box " << box << "\n";
  }
  std::cout << program::describePreviewEvents(host.previewEvents());
  std::cout << program::describeTextEvents(host.textEvents());
  std::cout << program::describeStatusBar(host.statusBar());
  if (options.exportFolder) {
    std::cout << program::describeFolder(*options.exportFolder);
  }
}

int run(const Options &options, const std::string &argv0) {
  HostOptions hostOptions;
  hostOptions.currentLanguage = options.language;
  if (options.apiLevel != 0) {
    hostOptions.apiLevel = options.apiLevel;
  }
  Host host(hostOptions);
  host.addDocument(loadSceneFile(options.scene));

  const std::filesystem::path folder = options.pluginFolder.value_or(programFolder(argv0));
  const PluginLoad load = host.loadPlugin(folder);
  if (load.status != PluginLoadStatus::Loaded) {
    std::cerr << "flarion-host: the plug-in did not load: " << load.message << "\n";
    return kExitPlugin;
  }
  std::cout << "Plug-in " << host.moduleIdentifier() << " loaded from " << utf8FromPath(folder)
            << "\n";
  for (const RegisteredCommand &c : host.commands()) {
    std::cout << "Command " << c.id << " \"" << c.name << "\": " << c.help << "\n";
  }
  const int32_t commandId = host.commands().empty() ? 0 : host.commands().front().id;
  if (host.commands().empty() || !host.runCommand(commandId) || !host.dialog(commandId)) {
    std::cerr << "flarion-host: the plug-in's command did not open a dialog\n";
    return kExitPlugin;
  }
  if (const Control *preview = program::firstUserArea(*host.dialog(commandId));
      preview && options.previewWidth > 0) {
    host.setUserAreaSize(*host.dialog(commandId), preview->id, options.previewWidth,
                         options.previewHeight);
  }
  if (options.exportFolder) {
    // The folder chooser only offers folders that exist; the one named is made when missing.
    std::error_code error;
    std::filesystem::create_directories(*options.exportFolder, error);
    if (error) {
      std::cerr << "flarion-host: cannot make the export folder " << *options.exportFolder << ": "
                << error.message() << "\n";
      return kExitUsage;
    }
  }
  host.setFolderChoice(options.exportFolder);
  runTicks(host, commandId, options);

  // The dialog object may have been replaced by an action that reopened it.
  const DialogWindow *window = host.dialog(commandId);
  if (!window) {
    std::cerr << "flarion-host: the plug-in freed its dialog\n";
    return kExitPlugin;
  }
  report(host, *window, options);
  if (options.savePreview) {
    const Control *preview = program::firstUserArea(*window);
    const RgbImage *image = preview ? host.userAreaImage(*window, preview->id) : nullptr;
    const std::string failure =
        image ? savePng(*image, *options.savePreview) : std::string("the dialog has no preview");
    if (!failure.empty()) {
      std::cerr << "flarion-host: preview not saved: " << failure << "\n";
      return kExitUsage;
    }
    std::cout << "Preview saved to " << utf8FromPath(*options.savePreview) << "\n";
  }
  host.unloadPlugin();
  if (!host.misuses().empty()) {
    for (const std::string &misuse : host.misuses()) {
      std::cerr << "flarion-host: misuse: " << misuse << "\n";
    }
    return kExitMisuse;
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  try {
    const ek::platform::Utf8Arguments arguments(argc, argv);
    const Options options = program::parseOptions(arguments.count(), arguments.values());
    if (options.help) {
      std::cout << program::usage();
      return 0;
    }
    return run(options, arguments.texts().front());
  } catch (const std::bad_alloc &) {
    // Any allocation of the run (scene, images, the plug-in's requests) may meet a full memory.
    std::cerr << "flarion-host: out of host memory\n";
  } catch (const std::exception &e) {
    std::cerr << "flarion-host: " << e.what() << "\n";
  }
  return kExitUsage;
}
