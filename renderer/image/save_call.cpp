#include "image/save_call.h"

#include "emberkit.h"

namespace ek::image {

namespace {

// Kept by the library itself rather than only in errno: a program on another C runtime than the
// library's (each linked with its own on Windows, or Python's) has an errno of its own.
thread_local int latestWriteError = 0;

} // namespace

int32_t finishSave(int error) {
  latestWriteError = error;
  if (error == 0) {
    return 0;
  }
  errno = error;
  return 1;
}

} // namespace ek::image

extern "C" EK_API int32_t ekLastWriteError(void) { return ek::image::latestWriteError; }
