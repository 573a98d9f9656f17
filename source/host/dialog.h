// A non-modal host dialog: its window, layout, control values and timer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/host_api.h"
#include "host/user_area.h"

namespace ek::host {

// What a dialog does when the host asks. Exceptions are caught before they reach the host.
class DialogHandler {
public:
  virtual ~DialogHandler() = default;
  // Builds the controls; called each time the window opens.
  virtual bool createLayout() = 0;
  // Sets the controls' values; called after createLayout.
  virtual bool initValues() = 0;
  // A control was changed or pressed.
  virtual bool command(int32_t controlId) = 0;
  virtual void timer() = 0;
  virtual void closed() = 0;
};

// Owns the host's dialog object for the handler's lifetime; the window may open and close many
// times meanwhile.
class Dialog {
public:
  explicit Dialog(DialogHandler &handler);
  ~Dialog();
  Dialog(const Dialog &) = delete;
  Dialog &operator=(const Dialog &) = delete;

  // Window.
  bool open(int32_t pluginId, int32_t defaultWidth, int32_t defaultHeight);
  bool restore(int32_t pluginId, void *layoutData);
  void setTitle(const std::string &title);
  void setTimer(int32_t milliseconds);

  // Layout, from DialogHandler::createLayout.
  void groupBegin(int32_t id, int32_t flags, int32_t columns, int32_t rows);
  void groupEnd();
  void groupBorderSpace(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void groupSpace(int32_t horizontal, int32_t vertical);
  void addLabel(int32_t id, int32_t flags, int32_t minWidth, const std::string &text);
  void addCheckbox(int32_t id, int32_t flags, int32_t minWidth, const std::string &label);
  void addSlider(int32_t id, int32_t flags, int32_t minWidth);
  void addNumber(int32_t id, int32_t flags, int32_t minWidth);
  void addButton(int32_t id, int32_t flags, int32_t minWidth, const std::string &label);
  void addDropDown(int32_t id, int32_t flags, int32_t minWidth);
  void addDropDownEntry(int32_t id, int32_t value, const std::string &label);
  void addCustomControl(int32_t id, int32_t type, int32_t flags, int32_t minWidth,
                        int32_t minHeight);
  void addUserArea(int32_t id, int32_t flags, int32_t minWidth, int32_t minHeight);
  UserArea attachUserArea(int32_t id, UserAreaHandler &handler);

  // Values. A getter is absent when the control cannot be read.
  void setBool(int32_t id, bool value);
  std::optional<bool> getBool(int32_t id) const;
  void setInt(int32_t id, int32_t value, int32_t minimum, int32_t maximum, int32_t step);
  std::optional<int32_t> getInt(int32_t id) const;
  void setReal(int32_t id, double value, double minimum, double maximum, double step);
  std::optional<double> getReal(int32_t id) const;
  void setText(int32_t id, const std::string &text);
  void enable(int32_t id, bool enabled);
  // Shows or hides the host's progress bar control and sets its fraction.
  void setProgress(int32_t id, bool barOn, double fraction);

private:
  HostDialog *handle_ = nullptr;
};

} // namespace ek::host
