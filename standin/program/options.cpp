#include "program/options.h"

#include <stdexcept>

namespace standin::program {

namespace {

int32_t toInt(const std::string &text, const std::string &option) {
  size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (const std::exception &) {
    used = 0;
  }
  if (used == 0 || used != text.size()) {
    throw std::invalid_argument(option + " expects a whole number, not \"" + text + "\"");
  }
  return value;
}

void parseSize(const std::string &text, Options &options) {
  const size_t x = text.find('x');
  if (x == std::string::npos) {
    throw std::invalid_argument("--preview-size expects WIDTHxHEIGHT, not \"" + text + "\"");
  }
  options.previewWidth = toInt(text.substr(0, x), "--preview-size");
  options.previewHeight = toInt(text.substr(x + 1), "--preview-size");
  if (options.previewWidth < 1 || options.previewHeight < 1) {
    throw std::invalid_argument("--preview-size needs a positive width and height");
  }
}

ControlAction parseSet(const std::string &text) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    throw std::invalid_argument("--set expects CONTROL=VALUE, not \"" + text + "\"");
  }
  return {ControlAction::Kind::Set, text.substr(0, equals), text.substr(equals + 1)};
}

} // namespace

Options parseOptions(int argc, char **argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        throw std::invalid_argument(arg + " needs a value");
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--plugin-dir") {
      options.pluginFolder = std::filesystem::path(next());
    } else if (arg == "--language") {
      options.language = next();
    } else if (arg == "--no-current-language") {
      options.language.reset();
    } else if (arg == "--api-level") {
      options.apiLevel = toInt(next(), arg);
    } else if (arg == "--set") {
      options.actions.push_back(parseSet(next()));
    } else if (arg == "--press") {
      options.actions.push_back({ControlAction::Kind::Press, next(), ""});
    } else if (arg == "--ticks") {
      options.ticks = toInt(next(), arg);
      if (options.ticks < 0) {
        throw std::invalid_argument("--ticks cannot be negative");
      }
    } else if (arg == "--preview-size") {
      parseSize(next(), options);
    } else if (arg == "--save-preview") {
      options.savePreview = std::filesystem::path(next());
    } else if (arg == "--export-folder") {
      options.exportFolder = next();
    } else if (!arg.empty() && arg[0] == '-') {
      throw std::invalid_argument("unknown option " + arg + " (see --help)");
    } else if (options.scene.empty()) {
      options.scene = arg;
    } else {
      throw std::invalid_argument("more than one scene given: " + arg);
    }
  }
  if (!options.help && options.scene.empty()) {
    throw std::invalid_argument("no scene file given (see --help)");
  }
  return options;
}

std::string usage() {
  return R"(Usage: flarion-host SCENE.json [options]

Runs the Flarion plug-in headless in the stand-in host: loads the scene, loads the plug-in module,
opens its dialog, applies the control actions in the order given, advances the host's timer and
prints the dialog's layout with every control, value, enable state and the status line.

Options:
  --plugin-dir DIR        folder holding the plug-in module and the renderer library
                          (default: the folder of this program)
  --language ID           the host's current language, for example en-US, de-DE, de-AT
                          (default en-US)
  --no-current-language   the host offers no current language; the plug-in enumerates the
                          installed ones (en-US marked current, de-DE)
  --api-level N           host API level reported to the plug-in
  --set CONTROL=VALUE     change a control as a user would; CONTROL is its ID or its label in
                          the chosen language; VALUE is a number, on/off for checkboxes or the
                          entry number or label for drop-downs (repeatable)
  --press CONTROL         press a button (repeatable)
  --ticks N               let N timer periods of 40 ms pass after the actions (default 1)
  --preview-size WxH      size of the preview area in pixels (default 640x360)
  --save-preview FILE     save the preview area as an 8-bit RGB PNG at the end
  --export-folder DIR     the folder the host's folder chooser answers with (default: cancel)
  --help                  show this text

Exit status: 0 on success, 1 for a bad command line or scene, 2 when the plug-in did not load,
3 when the host recorded misuse by the plug-in.
)";
}

} // namespace standin::program
