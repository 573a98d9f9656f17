#include "host/user_area.h"

#include "host/bitmap.h"
#include "host/connection.h"

namespace ek::host {

int32_t UserArea::width() const { return handle_ ? call(&HostApi::userAreaWidth, handle_) : 0; }

int32_t UserArea::height() const { return handle_ ? call(&HostApi::userAreaHeight, handle_) : 0; }

void UserArea::redraw() const {
  if (handle_) {
    call(&HostApi::userAreaRedraw, handle_);
  }
}

void UserArea::fill(int32_t x1, int32_t y1, int32_t x2, int32_t y2, Color8 color) const {
  if (handle_) {
    call(&HostApi::userAreaFill, handle_, x1, y1, x2, y2, color.red, color.green, color.blue);
  }
}

void UserArea::drawBitmap(const Bitmap &bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                          bool smooth) const {
  if (handle_) {
    call(&HostApi::userAreaDrawBitmap, handle_, bitmap.handle(), x, y, width, height,
         smooth ? 1 : 0);
  }
}

} // namespace ek::host
