// What the exported image writers share around their work: the argument checks, the faults caught
// at the C boundary, and the reason of a failure kept for the caller.
#pragma once

#include <cerrno>
#include <cstdint>

namespace ek::image {

// Keeps `error` (0 or an errno number) as the calling thread's latest write result, the one that
// ekLastWriteError reports, and leaves a failure's reason in errno too. Returns 0 when `error` is
// 0, else 1.
int32_t finishSave(int error);

// Runs `write`, which returns 0 or an errno number, as an exported save call: a null path or
// image, or a size below 1x1, fails with EINVAL before it runs, and an exception (memory ran out)
// fails with ENOMEM. Returns the call's status, 0 or 1.
template <typename Write>
int32_t runSave(const char *path, int32_t width, int32_t height, const float *rgba,
                Write write) noexcept {
  int error = EINVAL;
  if (path != nullptr && rgba != nullptr && width >= 1 && height >= 1) {
    try {
      error = write();
    } catch (...) {
      error = ENOMEM;
    }
  }
  return finishSave(error);
}

} // namespace ek::image
