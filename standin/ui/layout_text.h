// The dialog as text: rows, controls, labels, values, enable states and the status line.
#pragma once

#include <string>

#include "ui/dialog_window.h"

namespace standin {

std::string describeDialog(const DialogWindow &window);

} // namespace standin
