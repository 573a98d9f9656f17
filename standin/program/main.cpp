// flarion-host: runs the plug-in headless in the stand-in host on a scene file.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "host.h"
#include "program/control_lookup.h"
#include "program/options.h"
#include "scene/scene_json.h"
#include "ui/layout_text.h"
#include "ui/png_file.h"

namespace {

using namespace standin;
using program::ControlAction;
using program::Options;

constexpr double kTickMs = 40.0;
constexpr int kExitUsage = 1;
constexpr int kExitPlugin = 2;
constexpr int kExitMisuse = 3;

std::filesystem::path programFolder(const char *argv0) {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    return self.parent_path();
  }
  return std::filesystem::absolute(argv0).parent_path();
}

bool parseSwitch(const std::string &text, bool &value) {
  if (text == "on" || text == "true" || text == "1" || text == "yes") {
    value = true;
  } else if (text == "off" || text == "false" || text == "0" || text == "no") {
    value = false;
  } else {
    return false;
  }
  return true;
}

double parseNumber(const std::string &text) {
  size_t used = 0;
  const double value = std::stod(text, &used);
  if (used != text.size()) {
    throw std::invalid_argument("not a number");
  }
  return value;
}

// Applies one action as the user; returns a line that tells what happened.
std::string apply(Host &host, DialogWindow &window, const ControlAction &action) {
  Control *c = program::findControl(window, action.control);
  if (!c) {
    throw std::invalid_argument("no control \"" + action.control + "\" in the dialog");
  }
  const std::string name = std::to_string(c->id);
  if (action.kind == ControlAction::Kind::Press) {
    if (!host.userPress(window, c->id)) {
      throw std::invalid_argument("control " + name + " cannot be pressed (disabled?)");
    }
    return "pressed " + name;
  }
  bool accepted = false;
  if (c->kind == ControlKind::Checkbox) {
    bool on = false;
    if (!parseSwitch(action.value, on)) {
      throw std::invalid_argument("checkbox " + name + " takes on or off");
    }
    accepted = host.userSetBool(window, c->id, on);
  } else if (c->kind == ControlKind::DropDown) {
    int32_t entry = -1;
    for (const auto &[value, label] : c->entries) {
      if (label == action.value || std::to_string(value) == action.value) {
        entry = value;
      }
    }
    accepted = host.userChoose(window, c->id, entry);
  } else {
    double number = 0.0;
    try {
      number = parseNumber(action.value);
    } catch (const std::exception &) {
      throw std::invalid_argument("control " + name + " takes a number, not \"" + action.value +
                                  "\"");
    }
    accepted = host.userSetNumber(window, c->id, number);
  }
  if (!accepted) {
    throw std::invalid_argument("control " + name + " did not accept \"" + action.value + "\"");
  }
  return "set " + name + " to " + action.value;
}

int run(const Options &options, const char *argv0) {
  HostOptions hostOptions;
  hostOptions.currentLanguage = options.language;
  if (options.apiLevel != 0) {
    hostOptions.apiLevel = options.apiLevel;
  }
  Host host(hostOptions);
  std::unique_ptr<Document> scene = loadSceneFile(options.scene);
  host.addDocument(std::move(scene));

  const std::filesystem::path folder = options.pluginFolder.value_or(programFolder(argv0));
  const PluginLoad load = host.loadPlugin(folder);
  if (load.status != PluginLoadStatus::Loaded) {
    std::cerr << "flarion-host: the plug-in did not load: " << load.message << "\n";
    return kExitPlugin;
  }
  std::cout << "Plug-in " << host.moduleIdentifier() << " loaded from " << folder.string() << "\n";
  for (const RegisteredCommand &c : host.commands()) {
    std::cout << "Command " << c.id << " \"" << c.name << "\": " << c.help << "\n";
  }
  if (host.commands().empty() || !host.runCommand(host.commands().front().id)) {
    std::cerr << "flarion-host: the plug-in's command did not open a dialog\n";
    return kExitPlugin;
  }
  DialogWindow *window = host.dialog(host.commands().front().id);
  if (!window) {
    std::cerr << "flarion-host: the plug-in's command did not open a dialog\n";
    return kExitPlugin;
  }
  const Control *preview = program::firstUserArea(*window);
  if (preview && options.previewWidth > 0) {
    host.setUserAreaSize(*window, preview->id, options.previewWidth, options.previewHeight);
  }
  host.setFolderChoice(options.exportFolder);
  for (const ControlAction &action : options.actions) {
    std::cout << apply(host, *window, action) << "\n";
  }
  host.advance(kTickMs * options.ticks);

  std::cout << "\n" << describeDialog(*window);
  for (const std::string &box : host.messageBoxes()) {
    std::cout << "Message box " << box << "\n";
  }
  if (options.savePreview) {
    const RgbImage *image = preview ? host.userAreaImage(*window, preview->id) : nullptr;
    const std::string failure =
        image ? savePng(*image, *options.savePreview) : std::string("the dialog has no preview");
    if (!failure.empty()) {
      std::cerr << "flarion-host: preview not saved: " << failure << "\n";
      return kExitUsage;
    }
    std::cout << "Preview saved to " << options.savePreview->string() << "\n";
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
    const Options options = program::parseOptions(argc, argv);
    if (options.help) {
      std::cout << program::usage();
      return 0;
    }
    return run(options, argv[0]);
  } catch (const std::exception &e) {
    std::cerr << "flarion-host: " << e.what() << "\n";
  }
  return kExitUsage;
}
