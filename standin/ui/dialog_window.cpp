#include "ui/dialog_window.h"

namespace standin {

namespace {

Control *findIn(const Control &group, int32_t id) {
  for (const auto &child : group.children) {
    if (child->id == id) {
      return child.get();
    }
    if (Control *inner = findIn(*child, id)) {
      return inner;
    }
  }
  return nullptr;
}

} // namespace

void DialogWindow::beginLayout() {
  root = Control();
  root.kind = ControlKind::Group;
  root.columns = 1;
  userAreas.clear();
  groupStack_.assign(1, &root);
  building_ = true;
}

std::string DialogWindow::endLayout() {
  building_ = false;
  const size_t open = groupStack_.size() - 1;
  groupStack_.clear();
  return open == 0 ? std::string() : std::to_string(open) + " group(s) left open";
}

Control &DialogWindow::add(std::unique_ptr<Control> control) {
  Control &group = currentGroup();
  group.children.push_back(std::move(control));
  return *group.children.back();
}

Control &DialogWindow::beginGroup(std::unique_ptr<Control> group) {
  Control &added = add(std::move(group));
  groupStack_.push_back(&added);
  return added;
}

bool DialogWindow::endGroup() {
  if (groupStack_.size() <= 1) {
    return false;
  }
  groupStack_.pop_back();
  return true;
}

Control *DialogWindow::find(int32_t id) { return id == 0 ? nullptr : findIn(root, id); }

const Control *DialogWindow::find(int32_t id) const { return id == 0 ? nullptr : findIn(root, id); }

} // namespace standin
