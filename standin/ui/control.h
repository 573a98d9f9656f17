// The controls of a stand-in dialog, held in a tree that tests and programs can read and change.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace standin {

enum class ControlKind {
  Group,
  Label,
  Checkbox,
  Slider,
  Number,
  Button,
  DropDown,
  Custom,
  UserArea
};

const char *kindName(ControlKind kind);

enum class ValueKind { None, Bool, Int, Real };

struct Control {
  ControlKind kind = ControlKind::Group;
  int32_t id = 0;
  int32_t flags = 0;
  int32_t minWidth = 0;
  int32_t minHeight = 0;
  std::string text; // label, caption, or the text shown
  bool enabled = true;

  // Groups.
  int32_t columns = 0;
  int32_t rows = 0;
  int32_t border[4] = {0, 0, 0, 0}; // left, top, right, bottom
  std::optional<std::pair<int32_t, int32_t>> spacing;
  std::vector<std::unique_ptr<Control>> children;

  // Drop-down entries: value and label.
  std::vector<std::pair<int32_t, std::string>> entries;
  // Custom controls: the host's control type, and the progress bar's state.
  int32_t customType = 0;
  bool progressShown = false;
  double progressFraction = 0.0;

  // Value and the range a user may enter.
  ValueKind valueKind = ValueKind::None;
  bool boolValue = false;
  int32_t intValue = 0;
  double realValue = 0.0;
  double minimum = 0.0;
  double maximum = 0.0;
  double step = 0.0;
  uint32_t format = 0;

  bool holdsNumber() const { return valueKind == ValueKind::Int || valueKind == ValueKind::Real; }
  // The label of the drop-down entry with the current value; empty when there is none.
  std::string selectedEntry() const;
  // The number a user's entry becomes: limited to the range, whole for integer values.
  double clampEntry(double value) const;
};

} // namespace standin
