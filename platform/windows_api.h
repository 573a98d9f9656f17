// The Windows API as the platform layer includes it: without its rarely used parts, and without
// the min and max macros that would break std::min and std::max. Includes nothing elsewhere.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
