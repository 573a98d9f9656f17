#include "host/messages.h"

#include "host/connection.h"

namespace ek::host {

int32_t messageBox(const std::string &text, int32_t flags) {
  return call(&HostApi::messageBox, text.c_str(), flags);
}

void setStatusBarPercent(int32_t percent) { call(&HostApi::statusBarSetPercent, percent); }

void clearStatusBar() { call(&HostApi::statusBarClear); }

} // namespace ek::host
