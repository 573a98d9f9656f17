#include "ui/control.h"

#include <algorithm>
#include <cmath>

namespace standin {

const char *kindName(ControlKind kind) {
  switch (kind) {
  case ControlKind::Group:
    return "group";
  case ControlKind::Label:
    return "label";
  case ControlKind::Checkbox:
    return "checkbox";
  case ControlKind::Slider:
    return "slider";
  case ControlKind::Number:
    return "number";
  case ControlKind::Button:
    return "button";
  case ControlKind::DropDown:
    return "drop-down";
  case ControlKind::Custom:
    return "custom";
  case ControlKind::UserArea:
    return "user area";
  }
  return "control";
}

std::string Control::selectedEntry() const {
  for (const auto &entry : entries) {
    if (entry.first == intValue) {
      return entry.second;
    }
  }
  return std::string();
}

double Control::clampEntry(double value) const {
  double v = std::clamp(value, minimum, maximum);
  if (valueKind == ValueKind::Int) {
    v = std::clamp(std::round(v), std::ceil(minimum), std::floor(maximum));
  }
  return v;
}

} // namespace standin
