#include "host.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/host_ids.h"
#include "plugin_call.h"

namespace standin {

Host::Host(HostOptions options) : state_(std::move(options)) {}

Host::~Host() { unloadPlugin(); }

PluginLoad Host::loadPlugin(const std::filesystem::path &folder) {
  unloadPlugin();
  const std::string failure = module_.load(folder / kPluginModuleFileName);
  if (!failure.empty()) {
    return {PluginLoadStatus::NotLoadable, failure};
  }
  state_.pluginFolder = folder;
  if (sendToModule(HOST_MODULE_INIT, &state_.api) == 0) {
    module_.unload();
    return {PluginLoadStatus::Refused,
            "the module refused host API level " + std::to_string(state_.options.apiLevel)};
  }
  const char *identifier = nullptr;
  if (sendToModule(HOST_MODULE_IDENTIFY, static_cast<void *>(&identifier)) != 0 && identifier) {
    moduleIdentifier_ = identifier;
  }
  if (sendToModule(HOST_MODULE_START, nullptr) == 0) {
    unloadPlugin();
    return {PluginLoadStatus::StartFailed, "the module did not start"};
  }
  sendPluginMessage(ek::host::message::kStartActivity);
  return {PluginLoadStatus::Loaded, std::string()};
}

bool Host::sendPluginMessage(int32_t id) {
  if (!module_.loaded()) {
    return false;
  }
  HostPluginMessage message{id, nullptr};
  return sendToModule(HOST_MODULE_MESSAGE, &message) != 0;
}

int32_t Host::sendToModule(int32_t message, void *data) {
  PluginCall call(state_);
  return module_.send(message, data);
}

void Host::unloadPlugin() {
  if (!module_.loaded()) {
    return;
  }
  for (size_t i = 0; i < state_.dialogs.size(); ++i) {
    state_.closeWindow(*state_.dialogs[i], true);
  }
  sendToModule(HOST_MODULE_END, nullptr);
  auto leftOver = [&](size_t count, const char *what) {
    if (count > 0) {
      state_.recordMisuse("end", std::to_string(count) + " " + what + " not freed");
    }
  };
  leftOver(state_.dialogs.size(), "dialog(s)");
  leftOver(state_.bitmaps.size(), "bitmap(s)");
  leftOver(state_.pluginDocuments.size(), "document clone(s)");
  leftOver(state_.pluginObjects.size(), "object clone(s)");
  for (auto &w : state_.dialogs) {
    state_.forgetUserAreas(*w);
    state_.dialogHandles.remove(w->handle);
  }
  state_.dialogs.clear();
  state_.bitmaps.clear();
  state_.commands.clear();
  module_.unload();
  moduleIdentifier_.clear();
}

const RegisteredCommand *Host::command(int32_t id) const {
  for (const RegisteredCommand &c : state_.commands) {
    if (c.id == id) {
      return &c;
    }
  }
  return nullptr;
}

bool Host::runCommand(int32_t id) {
  const RegisteredCommand *c = command(id);
  if (!c) {
    return false;
  }
  HostDocument *document =
      state_.activeDocument ? asHandle<HostDocument>(state_.activeDocument->handle) : nullptr;
  bool done = false;
  {
    PluginCall call(state_);
    done = c->callbacks.execute(c->callbacks.self, document) != 0;
  }
  state_.drawPendingUserAreas();
  return done;
}

bool Host::restoreLayout(int32_t id) {
  const RegisteredCommand *c = command(id);
  if (!c || !c->callbacks.restoreLayout) {
    return false;
  }
  bool done = false;
  {
    PluginCall call(state_);
    done = c->callbacks.restoreLayout(c->callbacks.self, nullptr) != 0;
  }
  state_.drawPendingUserAreas();
  return done;
}

Document &Host::addDocument(std::unique_ptr<Document> document, bool makeActive) {
  Document &d = state_.addDocument(std::move(document));
  d.playToCurrentTime();
  if (makeActive) {
    state_.activeDocument = &d;
  }
  return d;
}

void Host::setFrame(Document &document, int32_t frame) {
  document.time = Time::ofFrame(frame, document.timeFps());
  document.playToCurrentTime();
  document.markChanged();
}

void Host::sceneChanged(Document &document) {
  state_.refreshObjects(document);
  document.markChanged();
}

DialogWindow *Host::dialog(int32_t pluginId) {
  for (auto &w : state_.dialogs) {
    if (w->timesOpened > 0 && w->pluginId == pluginId) {
      return w.get();
    }
  }
  return nullptr;
}

void Host::closeDialog(DialogWindow &window) {
  state_.closeWindow(window, true);
  state_.drawPendingUserAreas();
}

Control *Host::userControl(DialogWindow &window, int32_t id) {
  Control *c = window.isOpen ? window.find(id) : nullptr;
  return c && c->enabled ? c : nullptr;
}

void Host::notify(DialogWindow &window, int32_t id) {
  {
    PluginCall call(state_);
    window.callbacks.command(window.callbacks.self, id);
  }
  state_.drawPendingUserAreas();
}

bool Host::userSetBool(DialogWindow &window, int32_t id, bool value) {
  Control *c = userControl(window, id);
  if (!c || c->kind != ControlKind::Checkbox) {
    return false;
  }
  c->boolValue = value;
  notify(window, id);
  return true;
}

bool Host::userSetNumber(DialogWindow &window, int32_t id, double value) {
  Control *c = userControl(window, id);
  // A field takes numbers only: not-a-number and infinities are refused like text.
  if (!c || !(c->kind == ControlKind::Slider || c->kind == ControlKind::Number) ||
      !c->holdsNumber() || !std::isfinite(value)) {
    return false;
  }
  const double entered = c->clampEntry(value);
  if (c->valueKind == ValueKind::Int) {
    c->intValue = int32_t(entered);
  } else {
    c->realValue = entered;
  }
  notify(window, id);
  return true;
}

bool Host::userChoose(DialogWindow &window, int32_t id, int32_t entryValue) {
  Control *c = userControl(window, id);
  if (!c || c->kind != ControlKind::DropDown ||
      std::none_of(c->entries.begin(), c->entries.end(),
                   [&](const auto &entry) { return entry.first == entryValue; })) {
    return false;
  }
  c->valueKind = ValueKind::Int;
  c->intValue = entryValue;
  notify(window, id);
  return true;
}

bool Host::userPress(DialogWindow &window, int32_t id) {
  Control *c = userControl(window, id);
  if (!c || c->kind != ControlKind::Button) {
    return false;
  }
  notify(window, id);
  return true;
}

bool Host::setUserAreaSize(DialogWindow &window, int32_t id, int32_t width, int32_t height) {
  auto area = window.userAreas.find(id);
  if (area == window.userAreas.end() || width < 0 || height < 0) {
    return false;
  }
  window.userAreaSizes[id] = Size{width, height};
  area->second->needsDraw = true;
  state_.drawPendingUserAreas();
  return true;
}

const RgbImage *Host::userAreaImage(const DialogWindow &window, int32_t id) const {
  auto area = window.userAreas.find(id);
  return area == window.userAreas.end() ? nullptr : &area->second->canvas;
}

void Host::advance(double milliseconds) {
  const double target = state_.clockMs + std::max(milliseconds, 0.0);
  while (fireNextTimer(target)) {
  }
  state_.clockMs = std::max(state_.clockMs, target);
}

int32_t Host::runTicks(int32_t count) {
  int32_t fired = 0;
  while (fired < count && fireNextTimer(std::numeric_limits<double>::infinity())) {
    ++fired;
  }
  return fired;
}

bool Host::fireNextTimer(double latestDue) {
  DialogWindow *next = nullptr;
  for (auto &w : state_.dialogs) {
    if (w->isOpen && w->timerInterval > 0 && w->timerDue <= latestDue &&
        (!next || w->timerDue < next->timerDue)) {
      next = w.get();
    }
  }
  if (!next) {
    return false;
  }
  // A timer whose due time the clock has passed fires once, now. When whole periods were missed
  // they are not made up: the timer starts over from this firing, as a real host's timer does.
  const double due = next->timerDue;
  state_.clockMs = std::max(state_.clockMs, due);
  next->timerDue = due + next->timerInterval > state_.clockMs
                       ? due + next->timerInterval
                       : state_.clockMs + next->timerInterval;
  ++state_.ticksFired;
  const uintptr_t handle = next->handle;
  {
    PluginCall call(state_);
    next->callbacks.timer(next->callbacks.self);
  }
  // A callback that outlasted the period makes the next firing due as soon as it returned.
  if (DialogWindow *w = state_.dialogHandles.find(asHandle<HostDialog>(handle))) {
    w->timerDue = std::max(w->timerDue, state_.clockMs);
  }
  state_.drawPendingUserAreas();
  return true;
}

void Host::setBusy(int32_t code, bool busy) {
  if (busy) {
    state_.busy.insert(code);
  } else {
    state_.busy.erase(code);
  }
}

} // namespace standin
