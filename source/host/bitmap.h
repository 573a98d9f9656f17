// A host bitmap that the plug-in owns.
#pragma once

#include <cstdint>

#include "host/host_api.h"

namespace ek::host {

class Bitmap {
public:
  Bitmap();
  ~Bitmap();
  Bitmap(const Bitmap &) = delete;
  Bitmap &operator=(const Bitmap &) = delete;

  // Gives the bitmap a new size with 24 bits per pixel; false when the host cannot.
  bool init(int32_t width, int32_t height);
  int32_t width() const;
  int32_t height() const;
  // Row y from `count` pixels whose red, green and blue bytes start every `stride` bytes.
  bool setRow(int32_t y, int32_t count, const uint8_t *pixels, int32_t stride);

  HostBitmap *handle() const { return handle_; }

private:
  HostBitmap *handle_ = nullptr;
};

} // namespace ek::host
