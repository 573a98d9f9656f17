// One dialog object of the stand-in host: its window state, control tree, timer and user areas.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "ui/control.h"
#include "ui/image.h"

namespace standin {

class DialogWindow;

// The pixels of a user area and how the plug-in draws them.
struct UserAreaState {
  DialogWindow *window = nullptr;
  int32_t controlId = 0;
  HostUserAreaCallbacks callbacks{};
  RgbImage canvas;
  bool needsDraw = true;
  bool drawing = false; // drawing operations are only allowed inside the draw callback
  uintptr_t handle = 0;
  int32_t reportedMinWidth = 0;
  int32_t reportedMinHeight = 0;
};

struct Size {
  int32_t width = 0;
  int32_t height = 0;
};

class DialogWindow {
public:
  explicit DialogWindow(const HostDialogCallbacks &dialogCallbacks) : callbacks(dialogCallbacks) {}

  HostDialogCallbacks callbacks;
  uintptr_t handle = 0;

  // Window.
  bool isOpen = false;
  int32_t pluginId = 0;
  Size defaultSize;
  bool restoredFromLayout = false;
  int32_t timesOpened = 0;
  std::string title;
  int32_t timerInterval = 0; // milliseconds; 0 when stopped
  double timerDue = 0.0;
  // The static text the plug-in set most recently with setText; 0 before any.
  int32_t lastTextSet = 0;

  // The layout: the window is a group of its own that holds what the plug-in adds.
  Control root;
  std::map<int32_t, std::unique_ptr<UserAreaState>> userAreas;
  // Size of each user area as the window last laid it out; kept across layouts.
  std::map<int32_t, Size> userAreaSizes;

  // Building: between beginLayout and endLayout controls are added to the innermost open group.
  void beginLayout();
  // An empty text when every group was closed, otherwise what is wrong.
  std::string endLayout();
  bool building() const { return building_; }
  Control &add(std::unique_ptr<Control> control);
  Control &beginGroup(std::unique_ptr<Control> group);
  bool endGroup();
  Control &currentGroup() { return *groupStack_.back(); }

  // The control with this non-zero ID, or null.
  Control *find(int32_t id);
  const Control *find(int32_t id) const;

private:
  bool building_ = false;
  std::vector<Control *> groupStack_;
};

} // namespace standin
