// The dialog as text: rows, controls, labels, values, enable states and the status line.
#pragma once

#include <string>

#include "ui/dialog_window.h"

namespace standin {

std::string describeDialog(const DialogWindow &window);
// A control's value as the layout shows it: the number of a slider or number field, on or off for
// a checkbox, a drop-down's entry number and label; "(no value)" when it holds none.
std::string valueText(const Control &c);
// The dialog's status line: the label in the last row of its first group that ends with one;
// null when there is none.
const Control *statusLine(const DialogWindow &window);

} // namespace standin
