#include "host/bitmap.h"

#include "host/connection.h"

namespace ek::host {

namespace {

constexpr int32_t kBitsPerPixel = 24;

} // namespace

Bitmap::Bitmap() : handle_(call(&HostApi::bitmapCreate)) {}

Bitmap::~Bitmap() {
  if (handle_ && connected()) {
    call(&HostApi::bitmapFree, handle_);
  }
}

bool Bitmap::init(int32_t width, int32_t height) {
  return handle_ && call(&HostApi::bitmapInit, handle_, width, height, kBitsPerPixel) != 0;
}

int32_t Bitmap::width() const { return handle_ ? call(&HostApi::bitmapWidth, handle_) : 0; }

int32_t Bitmap::height() const { return handle_ ? call(&HostApi::bitmapHeight, handle_) : 0; }

bool Bitmap::setRow(int32_t y, int32_t count, const uint8_t *pixels, int32_t stride) {
  return handle_ && call(&HostApi::bitmapSetRow, handle_, y, count, pixels, stride) != 0;
}

} // namespace ek::host
