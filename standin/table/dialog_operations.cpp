// Dialog objects, their windows, layout and control values.
#include "table/table_common.h"

#include <algorithm>

#include "host/host_ids.h"

namespace standin {

namespace {

// The dialog and, while its layout is being built, permission to add to it.
DialogWindow *buildingDialog(HostState &s, HostDialog *handle, const char *operation) {
  DialogWindow *w = s.dialog(handle, operation);
  if (w && !w->building()) {
    s.recordMisuse(operation, "layout changed outside createLayout");
    return nullptr;
  }
  return w;
}

// A control of the expected kinds; records misuse for unknown IDs and other kinds.
Control *controlOf(HostState &s, HostDialog *handle, int32_t id, const char *operation,
                   std::initializer_list<ControlKind> kinds) {
  DialogWindow *w = s.dialog(handle, operation);
  Control *c = w ? s.control(*w, id, operation) : nullptr;
  if (!c || kinds.size() == 0) {
    return c;
  }
  if (std::find(kinds.begin(), kinds.end(), c->kind) == kinds.end()) {
    s.recordMisuse(operation, "control " + std::to_string(id) + " is a " + kindName(c->kind));
    return nullptr;
  }
  return c;
}

int32_t addControl(HostInstance *instance, HostDialog *handle, const char *operation,
                   ControlKind kind, int32_t id, int32_t flags, int32_t minWidth, int32_t minHeight,
                   const char *text) {
  HostState &s = stateOf(instance, operation);
  DialogWindow *w = buildingDialog(s, handle, operation);
  if (!w) {
    return 0;
  }
  if (id != 0 && w->find(id) != nullptr) {
    s.recordMisuse(operation, "control ID " + std::to_string(id) + " is used twice");
    return 0;
  }
  auto control = std::make_unique<Control>();
  control->kind = kind;
  control->id = id;
  control->flags = flags;
  control->minWidth = minWidth;
  control->minHeight = minHeight;
  control->text = text ? text : "";
  if (kind == ControlKind::Checkbox) {
    control->valueKind = ValueKind::Bool;
  }
  w->add(std::move(control));
  return 1;
}

HostDialog *dialogCreate(HostInstance *instance, const HostDialogCallbacks *callbacks) {
  HostState &s = stateOf(instance, "dialogCreate");
  if (!callbacks || !callbacks->createLayout || !callbacks->initValues || !callbacks->command ||
      !callbacks->timer || !callbacks->closed) {
    s.recordMisuse("dialogCreate", "every dialog callback is required");
    return nullptr;
  }
  s.dialogs.push_back(std::make_unique<DialogWindow>(*callbacks));
  DialogWindow &w = *s.dialogs.back();
  w.handle = s.dialogHandles.add(&w, s.handles);
  return asHandle<HostDialog>(w.handle);
}

void dialogFree(HostInstance *instance, HostDialog *handle) {
  HostState &s = stateOf(instance, "dialogFree");
  DialogWindow *w = s.dialog(handle, "dialogFree");
  if (!w) {
    return;
  }
  s.closeWindow(*w, false);
  s.forgetUserAreas(*w);
  s.dialogHandles.remove(w->handle);
  std::erase_if(s.dialogs, [&](const auto &d) { return d.get() == w; });
}

int32_t dialogOpen(HostInstance *instance, HostDialog *handle, int32_t pluginId,
                   int32_t defaultWidth, int32_t defaultHeight) {
  HostState &s = stateOf(instance, "dialogOpen");
  DialogWindow *w = s.dialog(handle, "dialogOpen");
  return w && s.openWindow(*w, pluginId, {defaultWidth, defaultHeight}, false) ? 1 : 0;
}

int32_t dialogRestore(HostInstance *instance, HostDialog *handle, int32_t pluginId, void *) {
  HostState &s = stateOf(instance, "dialogRestore");
  DialogWindow *w = s.dialog(handle, "dialogRestore");
  return w && s.openWindow(*w, pluginId, w->defaultSize, true) ? 1 : 0;
}

int32_t dialogSetTitle(HostInstance *instance, HostDialog *handle, const char *title) {
  HostState &s = stateOf(instance, "dialogSetTitle");
  DialogWindow *w = s.dialog(handle, "dialogSetTitle");
  if (!w) {
    return 0;
  }
  w->title = title ? title : "";
  return 1;
}

int32_t dialogSetTimer(HostInstance *instance, HostDialog *handle, int32_t milliseconds) {
  HostState &s = stateOf(instance, "dialogSetTimer");
  DialogWindow *w = s.dialog(handle, "dialogSetTimer");
  if (!w) {
    return 0;
  }
  w->timerInterval = std::max(milliseconds, 0);
  w->timerDue = s.now() + w->timerInterval;
  return 1;
}

int32_t groupBegin(HostInstance *instance, HostDialog *handle, int32_t id, int32_t flags,
                   int32_t columns, int32_t rows) {
  HostState &s = stateOf(instance, "groupBegin");
  DialogWindow *w = buildingDialog(s, handle, "groupBegin");
  if (!w) {
    return 0;
  }
  auto group = std::make_unique<Control>();
  group->kind = ControlKind::Group;
  group->id = id;
  group->flags = flags;
  group->columns = columns;
  group->rows = rows;
  w->beginGroup(std::move(group));
  return 1;
}

int32_t groupEnd(HostInstance *instance, HostDialog *handle) {
  HostState &s = stateOf(instance, "groupEnd");
  DialogWindow *w = buildingDialog(s, handle, "groupEnd");
  if (w && !w->endGroup()) {
    s.recordMisuse("groupEnd", "no group is open");
    return 0;
  }
  return w ? 1 : 0;
}

int32_t groupBorderSpace(HostInstance *instance, HostDialog *handle, int32_t left, int32_t top,
                         int32_t right, int32_t bottom) {
  HostState &s = stateOf(instance, "groupBorderSpace");
  DialogWindow *w = buildingDialog(s, handle, "groupBorderSpace");
  if (!w) {
    return 0;
  }
  Control &g = w->currentGroup();
  g.border[0] = left;
  g.border[1] = top;
  g.border[2] = right;
  g.border[3] = bottom;
  return 1;
}

int32_t groupSpace(HostInstance *instance, HostDialog *handle, int32_t horizontal,
                   int32_t vertical) {
  HostState &s = stateOf(instance, "groupSpace");
  DialogWindow *w = buildingDialog(s, handle, "groupSpace");
  if (!w) {
    return 0;
  }
  w->currentGroup().spacing = std::make_pair(horizontal, vertical);
  return 1;
}

int32_t addStaticText(HostInstance *i, HostDialog *d, int32_t id, int32_t flags, int32_t w,
                      int32_t h, const char *text) {
  return addControl(i, d, "addStaticText", ControlKind::Label, id, flags, w, h, text);
}

int32_t addCheckbox(HostInstance *i, HostDialog *d, int32_t id, int32_t flags, int32_t w, int32_t h,
                    const char *label) {
  return addControl(i, d, "addCheckbox", ControlKind::Checkbox, id, flags, w, h, label);
}

int32_t addEditSlider(HostInstance *i, HostDialog *d, int32_t id, int32_t flags, int32_t w,
                      int32_t h) {
  return addControl(i, d, "addEditSlider", ControlKind::Slider, id, flags, w, h, nullptr);
}

int32_t addEditNumber(HostInstance *i, HostDialog *d, int32_t id, int32_t flags, int32_t w,
                      int32_t h) {
  return addControl(i, d, "addEditNumber", ControlKind::Number, id, flags, w, h, nullptr);
}

int32_t addButton(HostInstance *i, HostDialog *d, int32_t id, int32_t flags, int32_t w, int32_t h,
                  const char *label) {
  return addControl(i, d, "addButton", ControlKind::Button, id, flags, w, h, label);
}

int32_t addComboBox(HostInstance *i, HostDialog *d, int32_t id, int32_t flags, int32_t w,
                    int32_t h) {
  return addControl(i, d, "addComboBox", ControlKind::DropDown, id, flags, w, h, nullptr);
}

int32_t addComboEntry(HostInstance *instance, HostDialog *handle, int32_t id, int32_t value,
                      const char *label) {
  HostState &s = stateOf(instance, "addComboEntry");
  if (!buildingDialog(s, handle, "addComboEntry")) {
    return 0;
  }
  Control *c = controlOf(s, handle, id, "addComboEntry", {ControlKind::DropDown});
  if (!c) {
    return 0;
  }
  c->entries.emplace_back(value, label ? label : "");
  return 1;
}

int32_t addCustomGui(HostInstance *instance, HostDialog *handle, int32_t id, int32_t type,
                     int32_t flags, int32_t w, int32_t h) {
  if (addControl(instance, handle, "addCustomGui", ControlKind::Custom, id, flags, w, h, nullptr) ==
      0) {
    return 0;
  }
  instance->state->dialog(handle, "addCustomGui")->currentGroup().children.back()->customType =
      type;
  return 1;
}

int32_t addUserArea(HostInstance *i, HostDialog *d, int32_t id, int32_t flags, int32_t w,
                    int32_t h) {
  return addControl(i, d, "addUserArea", ControlKind::UserArea, id, flags, w, h, nullptr);
}

HostUserArea *attachUserArea(HostInstance *instance, HostDialog *handle, int32_t id,
                             const HostUserAreaCallbacks *callbacks) {
  HostState &s = stateOf(instance, "attachUserArea");
  Control *c = controlOf(s, handle, id, "attachUserArea", {ControlKind::UserArea});
  if (!c) {
    return nullptr;
  }
  if (!callbacks || !callbacks->draw || !callbacks->minimumSize) {
    s.recordMisuse("attachUserArea", "draw and minimumSize callbacks are required");
    return nullptr;
  }
  DialogWindow &w = *s.dialog(handle, "attachUserArea");
  auto &area = w.userAreas[id];
  if (area) {
    s.userAreaHandles.remove(area->handle);
  }
  area = std::make_unique<UserAreaState>();
  area->window = &w;
  area->controlId = id;
  area->callbacks = *callbacks;
  area->handle = s.userAreaHandles.add(area.get(), s.handles);
  if (!w.userAreaSizes.contains(id)) {
    w.userAreaSizes[id] = Size{c->minWidth, c->minHeight};
  }
  return asHandle<HostUserArea>(area->handle);
}

int32_t setBool(HostInstance *instance, HostDialog *handle, int32_t id, int32_t value) {
  HostState &s = stateOf(instance, "setBool");
  Control *c = controlOf(s, handle, id, "setBool", {ControlKind::Checkbox});
  if (!c) {
    return 0;
  }
  c->boolValue = value != 0;
  return 1;
}

int32_t getBool(HostInstance *instance, HostDialog *handle, int32_t id, int32_t *value) {
  HostState &s = stateOf(instance, "getBool");
  Control *c = controlOf(s, handle, id, "getBool", {ControlKind::Checkbox});
  if (!c || !value) {
    return 0;
  }
  *value = c->boolValue ? 1 : 0;
  return 1;
}

int32_t setInt(HostInstance *instance, HostDialog *handle, int32_t id, int32_t value,
               int32_t minimum, int32_t maximum, int32_t step) {
  HostState &s = stateOf(instance, "setInt");
  Control *c = controlOf(s, handle, id, "setInt",
                         {ControlKind::Slider, ControlKind::Number, ControlKind::DropDown});
  if (!c) {
    return 0;
  }
  c->valueKind = ValueKind::Int;
  c->minimum = minimum;
  c->maximum = std::max(minimum, maximum);
  c->step = step;
  c->intValue = int32_t(c->clampEntry(value));
  return 1;
}

int32_t getInt(HostInstance *instance, HostDialog *handle, int32_t id, int32_t *value) {
  HostState &s = stateOf(instance, "getInt");
  Control *c = controlOf(s, handle, id, "getInt",
                         {ControlKind::Slider, ControlKind::Number, ControlKind::DropDown});
  if (!c || !value || !c->holdsNumber()) {
    return 0;
  }
  *value = c->valueKind == ValueKind::Int ? c->intValue : int32_t(c->realValue);
  return 1;
}

int32_t setReal(HostInstance *instance, HostDialog *handle, int32_t id, double value,
                double minimum, double maximum, double step, uint32_t format) {
  HostState &s = stateOf(instance, "setReal");
  Control *c = controlOf(s, handle, id, "setReal", {ControlKind::Slider, ControlKind::Number});
  if (!c) {
    return 0;
  }
  c->valueKind = ValueKind::Real;
  c->minimum = minimum;
  c->maximum = std::max(minimum, maximum);
  c->step = step;
  c->format = format;
  c->realValue = c->clampEntry(value);
  return 1;
}

int32_t getReal(HostInstance *instance, HostDialog *handle, int32_t id, double *value) {
  HostState &s = stateOf(instance, "getReal");
  Control *c = controlOf(s, handle, id, "getReal", {ControlKind::Slider, ControlKind::Number});
  if (!c || !value || !c->holdsNumber()) {
    return 0;
  }
  *value = c->valueKind == ValueKind::Real ? c->realValue : double(c->intValue);
  return 1;
}

int32_t setText(HostInstance *instance, HostDialog *handle, int32_t id, const char *text) {
  HostState &s = stateOf(instance, "setText");
  Control *c = controlOf(s, handle, id, "setText",
                         {ControlKind::Label, ControlKind::Button, ControlKind::Checkbox});
  if (!c) {
    return 0;
  }
  const std::string before = std::move(c->text);
  c->text = text ? text : "";
  if (c->kind == ControlKind::Label && c->text != before) {
    s.textEvents.push_back(TextEvent{s.ticksFired, s.now(), id, c->text});
  }
  if (c->kind == ControlKind::Label) {
    // Static texts are where a dialog shows its status; preview events report it.
    s.dialog(handle, "setText")->lastTextSet = id;
    s.previewActivity.status = c->text;
  }
  return 1;
}

int32_t enable(HostInstance *instance, HostDialog *handle, int32_t id, int32_t enabled) {
  HostState &s = stateOf(instance, "enable");
  Control *c = controlOf(s, handle, id, "enable", {});
  if (!c) {
    return 0;
  }
  c->enabled = enabled != 0;
  return 1;
}

int32_t sendMessage(HostInstance *instance, HostDialog *handle, int32_t id, uint32_t type,
                    const HostMessageEntry *entries, int32_t count) {
  namespace gui = ek::host::gui;
  HostState &s = stateOf(instance, "sendMessage");
  Control *c = controlOf(s, handle, id, "sendMessage", {ControlKind::Custom});
  if (!c) {
    return 0;
  }
  if (c->customType != gui::kProgressBar || type != gui::kProgressMessage) {
    s.recordMisuse("sendMessage", "control " + std::to_string(id) + " takes no such message");
    return 0;
  }
  for (int32_t i = 0; entries && i < count; ++i) {
    if (entries[i].key == gui::kProgressKeyBarOn && entries[i].kind == HOST_ENTRY_BOOL) {
      c->progressShown = entries[i].boolean != 0;
    } else if (entries[i].key == gui::kProgressKeyFraction && entries[i].kind == HOST_ENTRY_REAL) {
      c->progressFraction = entries[i].real;
    }
  }
  return 1;
}

} // namespace

void fillDialogOperations(HostApi &api) {
  api.dialogCreate = dialogCreate;
  api.dialogFree = dialogFree;
  api.dialogOpen = dialogOpen;
  api.dialogRestore = dialogRestore;
  api.dialogSetTitle = dialogSetTitle;
  api.dialogSetTimer = dialogSetTimer;
  api.groupBegin = groupBegin;
  api.groupEnd = groupEnd;
  api.groupBorderSpace = groupBorderSpace;
  api.groupSpace = groupSpace;
  api.addStaticText = addStaticText;
  api.addCheckbox = addCheckbox;
  api.addEditSlider = addEditSlider;
  api.addEditNumber = addEditNumber;
  api.addButton = addButton;
  api.addComboBox = addComboBox;
  api.addComboEntry = addComboEntry;
  api.addCustomGui = addCustomGui;
  api.addUserArea = addUserArea;
  api.attachUserArea = attachUserArea;
  api.setBool = setBool;
  api.getBool = getBool;
  api.setInt = setInt;
  api.getInt = getInt;
  api.setReal = setReal;
  api.getReal = getReal;
  api.setText = setText;
  api.enable = enable;
  api.sendMessage = sendMessage;
}

} // namespace standin
