// The dialog as text: rows, controls, labels, values, enable states and the status line.
#pragma once

#include <string>

#include "ui/dialog_window.h"

namespace standin {

std::string describeDialog(const DialogWindow &window);
// The dialog's status line: the label in the last row of its first group that ends with one;
// null when there is none.
const Control *statusLine(const DialogWindow &window);

} // namespace standin
