#include "ui/layout_text.h"

#include <climits>
#include <cstdio>
#include <sstream>

#include "host/host_ids.h"

namespace standin {

namespace {

namespace layout = ek::host::layout;

// Shortest decimal text of a real with up to six decimals.
std::string number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", value);
  std::string s = text;
  s.erase(s.find_last_not_of('0') + 1);
  if (!s.empty() && s.back() == '.') {
    s.pop_back();
  }
  return s == "-0" ? "0" : s;
}

std::string quoted(const std::string &text) { return "\"" + text + "\""; }

std::string sizing(const Control &c) {
  std::string s;
  if (c.minWidth > 0 || c.minHeight > 0) {
    s += ", min " + std::to_string(c.minWidth) +
         (c.minHeight > 0 ? " x " + std::to_string(c.minHeight) : "");
  }
  if ((c.flags & layout::kFitHorizontal) == layout::kFitHorizontal) {
    s += (c.flags & layout::kFitVertical) == layout::kFitVertical ? ", fills" : ", stretches";
  } else if ((c.flags & layout::kAlignRight) && !(c.flags & layout::kAlignLeft)) {
    s += ", right-aligned";
  }
  return s;
}

std::string range(const Control &c) {
  if (c.valueKind == ValueKind::Int && c.minimum <= double(INT32_MIN) &&
      c.maximum >= double(INT32_MAX)) {
    return "any, step " + number(c.step);
  }
  return number(c.minimum) + " .. " + number(c.maximum) + ", step " + number(c.step);
}

std::string value(const Control &c) {
  switch (c.kind) {
  case ControlKind::Checkbox:
    return c.boolValue ? " [x]" : " [ ]";
  case ControlKind::Slider:
  case ControlKind::Number:
    return " = " + valueText(c) + (c.holdsNumber() ? " (" + range(c) + ")" : std::string());
  case ControlKind::DropDown:
    return " = " + valueText(c);
  case ControlKind::Custom:
    if (c.customType == ek::host::gui::kProgressBar) {
      return std::string(" progress bar, ") + (c.progressShown ? "shown" : "hidden") + ", " +
             number(c.progressFraction * 100.0) + " %";
    }
    return " type " + std::to_string(c.customType);
  default:
    return std::string();
  }
}

} // namespace

std::string valueText(const Control &c) {
  if (c.kind == ControlKind::Checkbox) {
    return c.boolValue ? "on" : "off";
  }
  if (!c.holdsNumber()) {
    return "(no value)";
  }
  if (c.kind == ControlKind::DropDown) {
    return std::to_string(c.intValue) + " " + quoted(c.selectedEntry());
  }
  return c.valueKind == ValueKind::Int ? std::to_string(c.intValue) : number(c.realValue);
}

namespace {

std::string headline(const Control &c) {
  std::string line = c.id != 0 ? std::to_string(c.id) + " " : std::string();
  line += kindName(c.kind);
  if (c.kind == ControlKind::Label || c.kind == ControlKind::Checkbox ||
      c.kind == ControlKind::Button) {
    line += ' ';
    line += quoted(c.text);
  }
  line += value(c) + sizing(c);
  if (!c.enabled) {
    line += " (disabled)";
  }
  return line;
}

std::string groupLine(const Control &g) {
  std::string line = std::to_string(g.columns) + (g.columns == 1 ? " column" : " columns");
  if (g.border[0] || g.border[1] || g.border[2] || g.border[3]) {
    line += ", border " + std::to_string(g.border[0]) + "/" + std::to_string(g.border[1]) + "/" +
            std::to_string(g.border[2]) + "/" + std::to_string(g.border[3]);
  }
  if (g.spacing) {
    line +=
        ", spacing " + std::to_string(g.spacing->first) + "/" + std::to_string(g.spacing->second);
  }
  return line + sizing(g);
}

void describe(const Control &c, const std::string &indent, std::ostringstream &out) {
  if (c.kind == ControlKind::Group) {
    out << indent << "group: " << groupLine(c) << "\n";
    for (const auto &child : c.children) {
      describe(*child, indent + "  ", out);
    }
    return;
  }
  out << indent << headline(c) << "\n";
  for (const auto &[entryValue, label] : c.entries) {
    out << indent << "    " << entryValue << ": " << quoted(label) << "\n";
  }
}

// The label in the last row of a group, which is where a dialog keeps its status.
const Control *lastRowLabel(const Control &outer) {
  const Control *last = outer.children.empty() ? nullptr : outer.children.back().get();
  return last && last->kind == ControlKind::Label ? last : nullptr;
}

} // namespace

const Control *statusLine(const DialogWindow &window) {
  for (const auto &top : window.root.children) {
    if (top->kind == ControlKind::Group) {
      if (const Control *status = lastRowLabel(*top)) {
        return status;
      }
    }
  }
  return nullptr;
}

std::string describeDialog(const DialogWindow &window) {
  std::ostringstream out;
  out << "Dialog " << quoted(window.title) << " (ID " << window.pluginId << ", "
      << (window.isOpen ? "open" : "closed") << ", " << window.defaultSize.width << " x "
      << window.defaultSize.height << ", timer "
      << (window.timerInterval > 0 ? std::to_string(window.timerInterval) + " ms" : "off") << ")\n";
  for (const auto &top : window.root.children) {
    if (top->kind != ControlKind::Group) {
      describe(*top, "", out);
      continue;
    }
    out << "group: " << groupLine(*top) << "\n";
    int row = 0;
    for (const auto &child : top->children) {
      out << "  Row " << ++row << ":\n";
      describe(*child, "    ", out);
    }
    if (const Control *status = lastRowLabel(*top)) {
      out << "Status line: " << status->text << "\n";
    }
  }
  for (const auto &[id, area] : window.userAreas) {
    const auto size = window.userAreaSizes.find(id);
    if (size != window.userAreaSizes.end()) {
      out << "User area " << id << ": " << size->second.width << " x " << size->second.height
          << " pixels (plug-in minimum " << area->reportedMinWidth << " x "
          << area->reportedMinHeight << ")\n";
    }
  }
  return out.str();
}

} // namespace standin
