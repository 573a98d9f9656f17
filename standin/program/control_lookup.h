// Finding a dialog control by its ID or the label a user reads next to it.
#pragma once

#include <string>

#include "ui/dialog_window.h"

namespace standin::program {

// The control with the numeric ID, the checkbox or button with that caption, or the control
// right after a label with that text (letter case ignored); null when there is none.
Control *findControl(DialogWindow &window, const std::string &idOrLabel);

// The first user area of the dialog, or null.
const Control *firstUserArea(const DialogWindow &window);

} // namespace standin::program
