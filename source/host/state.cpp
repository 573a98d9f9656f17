#include "host/state.h"

#include "host/connection.h"

namespace ek::host {

bool isMainThread() { return call(&HostApi::isMainThread) != 0; }

bool isBusy(int32_t code) { return call(&HostApi::isBusy, code) != 0; }

double milliseconds() { return call(&HostApi::milliseconds); }

} // namespace ek::host
