// The host's main-thread, busy and clock queries.
#pragma once

#include <cstdint>

namespace ek::host {

// True when the caller may touch documents and show dialogs.
bool isMainThread();
// True while the host is busy with the given activity (host::state codes).
bool isBusy(int32_t code);
// The host's millisecond clock.
double milliseconds();

} // namespace ek::host
