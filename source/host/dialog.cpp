#include "host/dialog.h"

#include "host/connection.h"
#include "host/host_ids.h"

namespace ek::host {

namespace {

constexpr int32_t kNoMinimum = 0;

DialogHandler &handlerOf(void *self) { return *static_cast<DialogHandler *>(self); }

int32_t createLayout(void *self) {
  try {
    return handlerOf(self).createLayout() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t initValues(void *self) {
  try {
    return handlerOf(self).initValues() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t command(void *self, int32_t controlId) {
  try {
    return handlerOf(self).command(controlId) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void timer(void *self) {
  try {
    handlerOf(self).timer();
  } catch (...) {
  }
}

void closed(void *self) {
  try {
    handlerOf(self).closed();
  } catch (...) {
  }
}

void drawUserArea(void *self, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  try {
    static_cast<UserAreaHandler *>(self)->draw(x1, y1, x2, y2);
  } catch (...) {
  }
}

void userAreaMinimumSize(void *self, int32_t *width, int32_t *height) {
  try {
    static_cast<UserAreaHandler *>(self)->minimumSize(*width, *height);
  } catch (...) {
  }
}

} // namespace

Dialog::Dialog(DialogHandler &handler) {
  const HostDialogCallbacks callbacks{&handler, createLayout, initValues, command, timer, closed};
  handle_ = call(&HostApi::dialogCreate, &callbacks);
}

Dialog::~Dialog() {
  if (handle_ && connected()) {
    call(&HostApi::dialogFree, handle_);
  }
}

bool Dialog::open(int32_t pluginId, int32_t defaultWidth, int32_t defaultHeight) {
  return call(&HostApi::dialogOpen, handle_, pluginId, defaultWidth, defaultHeight) != 0;
}

bool Dialog::restore(int32_t pluginId, void *layoutData) {
  return call(&HostApi::dialogRestore, handle_, pluginId, layoutData) != 0;
}

void Dialog::setTitle(const std::string &title) {
  call(&HostApi::dialogSetTitle, handle_, title.c_str());
}

void Dialog::setTimer(int32_t milliseconds) {
  call(&HostApi::dialogSetTimer, handle_, milliseconds);
}

void Dialog::groupBegin(int32_t id, int32_t flags, int32_t columns, int32_t rows) {
  call(&HostApi::groupBegin, handle_, id, flags, columns, rows);
}

void Dialog::groupEnd() { call(&HostApi::groupEnd, handle_); }

void Dialog::groupBorderSpace(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  call(&HostApi::groupBorderSpace, handle_, left, top, right, bottom);
}

void Dialog::groupSpace(int32_t horizontal, int32_t vertical) {
  call(&HostApi::groupSpace, handle_, horizontal, vertical);
}

void Dialog::addLabel(int32_t id, int32_t flags, int32_t minWidth, const std::string &text) {
  call(&HostApi::addStaticText, handle_, id, flags, minWidth, kNoMinimum, text.c_str());
}

void Dialog::addCheckbox(int32_t id, int32_t flags, int32_t minWidth, const std::string &label) {
  call(&HostApi::addCheckbox, handle_, id, flags, minWidth, kNoMinimum, label.c_str());
}

void Dialog::addSlider(int32_t id, int32_t flags, int32_t minWidth) {
  call(&HostApi::addEditSlider, handle_, id, flags, minWidth, kNoMinimum);
}

void Dialog::addNumber(int32_t id, int32_t flags, int32_t minWidth) {
  call(&HostApi::addEditNumber, handle_, id, flags, minWidth, kNoMinimum);
}

void Dialog::addButton(int32_t id, int32_t flags, int32_t minWidth, const std::string &label) {
  call(&HostApi::addButton, handle_, id, flags, minWidth, kNoMinimum, label.c_str());
}

void Dialog::addDropDown(int32_t id, int32_t flags, int32_t minWidth) {
  call(&HostApi::addComboBox, handle_, id, flags, minWidth, kNoMinimum);
}

void Dialog::addDropDownEntry(int32_t id, int32_t value, const std::string &label) {
  call(&HostApi::addComboEntry, handle_, id, value, label.c_str());
}

void Dialog::addCustomControl(int32_t id, int32_t type, int32_t flags, int32_t minWidth,
                              int32_t minHeight) {
  call(&HostApi::addCustomGui, handle_, id, type, flags, minWidth, minHeight);
}

void Dialog::addUserArea(int32_t id, int32_t flags, int32_t minWidth, int32_t minHeight) {
  call(&HostApi::addUserArea, handle_, id, flags, minWidth, minHeight);
}

UserArea Dialog::attachUserArea(int32_t id, UserAreaHandler &handler) {
  const HostUserAreaCallbacks callbacks{&handler, drawUserArea, userAreaMinimumSize};
  return UserArea(call(&HostApi::attachUserArea, handle_, id, &callbacks));
}

void Dialog::setBool(int32_t id, bool value) {
  call(&HostApi::setBool, handle_, id, value ? 1 : 0);
}

std::optional<bool> Dialog::getBool(int32_t id) const {
  int32_t value = 0;
  if (call(&HostApi::getBool, handle_, id, &value) == 0) {
    return std::nullopt;
  }
  return value != 0;
}

void Dialog::setInt(int32_t id, int32_t value, int32_t minimum, int32_t maximum, int32_t step) {
  call(&HostApi::setInt, handle_, id, value, minimum, maximum, step);
}

std::optional<int32_t> Dialog::getInt(int32_t id) const {
  int32_t value = 0;
  if (call(&HostApi::getInt, handle_, id, &value) == 0) {
    return std::nullopt;
  }
  return value;
}

void Dialog::setReal(int32_t id, double value, double minimum, double maximum, double step) {
  call(&HostApi::setReal, handle_, id, value, minimum, maximum, step, gui::kRealFormat);
}

std::optional<double> Dialog::getReal(int32_t id) const {
  double value = 0.0;
  if (call(&HostApi::getReal, handle_, id, &value) == 0) {
    return std::nullopt;
  }
  return value;
}

void Dialog::setText(int32_t id, const std::string &text) {
  call(&HostApi::setText, handle_, id, text.c_str());
}

void Dialog::enable(int32_t id, bool enabled) {
  call(&HostApi::enable, handle_, id, enabled ? 1 : 0);
}

void Dialog::setProgress(int32_t id, bool barOn, double fraction) {
  const HostMessageEntry entries[] = {
      {gui::kProgressKeyBarOn, HOST_ENTRY_BOOL, barOn ? 1 : 0, 0.0},
      {gui::kProgressKeyFraction, HOST_ENTRY_REAL, 0, fraction},
  };
  call(&HostApi::sendMessage, handle_, id, gui::kProgressMessage, entries, int32_t(2));
}

} // namespace ek::host
