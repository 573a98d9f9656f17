#include "program/action_runner.h"

#include <stdexcept>

#include "host/host_ids.h"
#include "program/control_lookup.h"
#include "ui/layout_text.h"

namespace standin::program {

namespace {

namespace state = ek::host::state;

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

DialogWindow &openWindow(Host &host, int32_t commandId) {
  DialogWindow *window = host.dialog(commandId);
  if (!window || !window->isOpen) {
    throw std::invalid_argument("the dialog is not open");
  }
  return *window;
}

Control &control(DialogWindow &window, const std::string &idOrLabel) {
  Control *c = findControl(window, idOrLabel);
  if (!c) {
    throw std::invalid_argument("no control \"" + idOrLabel + "\" in the dialog");
  }
  return *c;
}

std::string press(Host &host, DialogWindow &window, const Action &action) {
  const Control &c = control(window, action.control);
  const std::string name = std::to_string(c.id);
  if (!host.userPress(window, c.id)) {
    throw std::invalid_argument("control " + name + " cannot be pressed (disabled?)");
  }
  return "press " + name;
}

std::string set(Host &host, DialogWindow &window, const Action &action) {
  const Control &c = control(window, action.control);
  const std::string name = std::to_string(c.id);
  bool accepted = false;
  if (c.kind == ControlKind::Checkbox) {
    bool on = false;
    if (!parseSwitch(action.value, on)) {
      throw std::invalid_argument("checkbox " + name + " takes on or off");
    }
    accepted = host.userSetBool(window, c.id, on);
  } else if (c.kind == ControlKind::DropDown) {
    int32_t entry = -1;
    for (const auto &[value, label] : c.entries) {
      if (label == action.value || std::to_string(value) == action.value) {
        entry = value;
      }
    }
    accepted = host.userChoose(window, c.id, entry);
  } else {
    double number = 0.0;
    try {
      number = parseNumber(action.value);
    } catch (const std::exception &) {
      throw std::invalid_argument("control " + name + " takes a number, not \"" + action.value +
                                  "\"");
    }
    accepted = host.userSetNumber(window, c.id, number);
  }
  if (!accepted) {
    throw std::invalid_argument("control " + name + " did not accept \"" + action.value + "\"");
  }
  // The value the control kept, which its range (or the plug-in) may have changed.
  return "set " + name + " to " + valueText(control(window, action.control));
}

std::string resize(Host &host, DialogWindow &window, const Action &action) {
  const Control *area = firstUserArea(window);
  if (!area || !host.setUserAreaSize(window, area->id, action.width, action.height)) {
    throw std::invalid_argument("the dialog has no preview area to resize");
  }
  return "resize area " + std::to_string(area->id) + " to " + std::to_string(action.width) + "x" +
         std::to_string(action.height);
}

// Busy states add up until busy=0 clears them all.
std::string busy(Host &host, int32_t code) {
  switch (code) {
  case state::kBusyViewDrawing:
    host.setBusy(code, true);
    return "busy drawing views";
  case state::kBusyEditorRendering:
    host.setBusy(code, true);
    return "busy with an editor render";
  default:
    host.setBusy(state::kBusyViewDrawing, false);
    host.setBusy(state::kBusyEditorRendering, false);
    return "not busy";
  }
}

} // namespace

std::string applyAction(Host &host, int32_t commandId, const Action &action) {
  switch (action.kind) {
  case Action::Kind::Set:
    return set(host, openWindow(host, commandId), action);
  case Action::Kind::Press:
    return press(host, openWindow(host, commandId), action);
  case Action::Kind::Resize:
    return resize(host, openWindow(host, commandId), action);
  case Action::Kind::Frame:
    if (!host.activeDocument()) {
      throw std::invalid_argument("there is no active document");
    }
    host.setFrame(*host.activeDocument(), action.number);
    return "frame " + std::to_string(action.number);
  case Action::Kind::Busy:
    return busy(host, action.number);
  case Action::Kind::MainThread:
    host.setMainThreadAnswer(action.number != 0);
    return std::string("main thread query answers ") + (action.number != 0 ? "yes" : "no");
  case Action::Kind::Close:
    host.closeDialog(openWindow(host, commandId));
    return "close";
  case Action::Kind::Open:
    if (!host.runCommand(commandId) || !host.dialog(commandId) || !host.dialog(commandId)->isOpen) {
      throw std::invalid_argument("the plug-in's command did not open its dialog");
    }
    return "open";
  }
  return std::string();
}

} // namespace standin::program
