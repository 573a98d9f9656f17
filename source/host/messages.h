// Messages to the user outside the dialog: message boxes and the host's status bar.
#pragma once

#include <cstdint>
#include <string>

namespace ek::host {

// Shows a modal message box (host::message_box flags) and returns the button pressed.
int32_t messageBox(const std::string &text, int32_t flags);
void setStatusBarPercent(int32_t percent);
void clearStatusBar();

} // namespace ek::host
