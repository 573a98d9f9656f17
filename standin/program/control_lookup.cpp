#include "program/control_lookup.h"

#include <algorithm>
#include <cctype>

namespace standin::program {

namespace {

bool sameText(const std::string &a, const std::string &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

Control *findByLabel(Control &group, const std::string &label) {
  for (size_t i = 0; i < group.children.size(); ++i) {
    Control &c = *group.children[i];
    if (c.kind == ControlKind::Group) {
      if (Control *inner = findByLabel(c, label)) {
        return inner;
      }
      continue;
    }
    const bool captioned = c.kind == ControlKind::Checkbox || c.kind == ControlKind::Button;
    if (captioned && c.id != 0 && sameText(c.text, label)) {
      return &c;
    }
    if (c.kind == ControlKind::Label && sameText(c.text, label)) {
      for (size_t j = i + 1; j < group.children.size(); ++j) {
        if (group.children[j]->id != 0) {
          return group.children[j].get();
        }
      }
    }
  }
  return nullptr;
}

const Control *findUserArea(const Control &group) {
  for (const auto &child : group.children) {
    if (child->kind == ControlKind::UserArea) {
      return child.get();
    }
    if (const Control *inner = findUserArea(*child)) {
      return inner;
    }
  }
  return nullptr;
}

} // namespace

Control *findControl(DialogWindow &window, const std::string &idOrLabel) {
  const bool numeric =
      !idOrLabel.empty() && std::all_of(idOrLabel.begin(), idOrLabel.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
      });
  if (numeric) {
    return window.find(std::stoi(idOrLabel));
  }
  return findByLabel(window.root, idOrLabel);
}

const Control *firstUserArea(const DialogWindow &window) { return findUserArea(window.root); }

} // namespace standin::program
