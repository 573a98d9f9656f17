#include "program/options.h"

#include <stdexcept>

#include "utf8_path.h"

namespace standin::program {

namespace {

void parseSize(const std::string &text, Options &options) {
  const size_t x = text.find('x');
  if (x == std::string::npos) {
    throw std::invalid_argument("--preview-size expects WIDTHxHEIGHT, not \"" + text + "\"");
  }
  options.previewWidth = parseWholeNumber(text.substr(0, x), "--preview-size");
  options.previewHeight = parseWholeNumber(text.substr(x + 1), "--preview-size");
  if (options.previewWidth < 1 || options.previewHeight < 1) {
    throw std::invalid_argument("--preview-size needs a positive width and height");
  }
}

} // namespace

Options parseOptions(int argc, const char *const *argv) {
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
      options.pluginFolder = pathFromUtf8(next());
    } else if (arg == "--language") {
      options.language = next();
    } else if (arg == "--no-current-language") {
      options.language.reset();
    } else if (arg == "--api-level") {
      options.apiLevel = parseWholeNumber(next(), arg);
    } else if (arg == "--set") {
      options.actions.push_back(parseSetAction(next(), arg));
    } else if (arg == "--press") {
      Action press;
      press.kind = Action::Kind::Press;
      press.control = next();
      options.actions.push_back(press);
    } else if (arg == "--at") {
      options.actions.push_back(parseTimedAction(next()));
    } else if (arg == "--ticks") {
      options.ticks = parseWholeNumber(next(), arg);
      if (options.ticks < 0) {
        throw std::invalid_argument("--ticks cannot be negative");
      }
    } else if (arg == "--preview-size") {
      parseSize(next(), options);
    } else if (arg == "--save-preview") {
      options.savePreview = pathFromUtf8(next());
    } else if (arg == "--export-folder") {
      options.exportFolder = next();
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (!arg.empty() && arg[0] == '-') {
      throw std::invalid_argument("unknown option " + arg + " (see --help)");
    } else if (options.scene.empty()) {
      options.scene = pathFromUtf8(arg);
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
opens its dialog, and lets the dialog's 40 ms timer tick while the actions given run at their
ticks. Then it prints the dialog's layout with every control, value, enable state and the status
line, the message boxes the plug-in showed, and every preview event: each image the plug-in
finished (its size, the user area and the status line) and each draw of a user area, with the
tick and the host's clock.

The host's clock follows the plug-in's work: time the plug-in spends in a callback passes on the
clock, and timer periods missed meanwhile fire once, late, rather than in a burst.

Options:
  --plugin-dir DIR        folder holding the plug-in module and the renderer library
                          (default: the folder of this program)
  --language ID           the host's current language, for example en-US, de-DE, de-AT
                          (default en-US)
  --no-current-language   the host offers no current language; the plug-in enumerates the
                          installed ones (en-US marked current, de-DE)
  --api-level N           host API level reported to the plug-in
  --set CONTROL=VALUE     change a control as a user would, before the first tick; CONTROL is
                          its ID or its label in the chosen language; VALUE is a number, on/off
                          for checkboxes or the entry number or label for drop-downs
                          (repeatable; the same as --at 0:set=CONTROL=VALUE)
  --press CONTROL         press a button before the first tick (repeatable; the same as
                          --at 0:press=CONTROL)
  --at TICK:ACTION        do ACTION once TICK ticks of the run have passed (repeatable; actions
                          of the same tick run in command-line order). ACTION is one of
                            set=CONTROL=VALUE   as --set
                            press=CONTROL       as --press
                            frame=N             play the document's timeline to frame N
                            resize=WxH          the layout gives the preview area (the dialog's
                                                first user area) this size; sizes below 16 and
                                                0 are allowed
                            busy=1              the host is busy drawing its views
                            busy=2              the host is busy with an editor render
                            busy=0              the host is busy with neither any more
                                                (busy=1 and busy=2 add up)
                            mainthread=0|1      what the host's main-thread query answers
                            close               close the dialog window
                            open                run the command again, which opens the window
  --ticks N               let at least N ticks pass (default 1); the run lasts until the last
                          --at tick. A tick is the next firing of an open window's timer; while
                          no window has a timer, a tick is 40 ms of the host's clock passing.
                          The preview events count only the timer firings as ticks
  --quiet                 leave out the dialog's layout; the status line, the message boxes,
                          the preview events, the text changes (status line, export progress),
                          the host status bar and the export folder's files are still printed
  --preview-size WxH      size of the preview area in pixels when the dialog opens
                          (default: as the plug-in lays it out)
  --save-preview FILE     save the preview area as an 8-bit RGB PNG at the end; a file that
                          cannot be written fails the run
  --export-folder DIR     the folder the host's folder chooser answers with (default: cancel);
                          made when missing; its files are listed at the end. An export runs
                          in the timer: give enough --ticks for the frames it writes, e.g.
                            --export-folder out --press "Export sequence" --ticks 200
  --help                  show this text

Exit status: 0 on success, 1 for a bad command line or scene, an action the dialog refused, or a
preview that could not be saved, 2 when the plug-in did not load or open its dialog, 3 when the
host recorded misuse by the plug-in.
)";
}

} // namespace standin::program
