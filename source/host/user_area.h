// User-drawn areas of a dialog.
#pragma once

#include <cstdint>

#include "host/host_api.h"

namespace ek::host {

class Bitmap;

// What a user area does when the host asks. Exceptions are caught before they reach the host.
class UserAreaHandler {
public:
  virtual ~UserAreaHandler() = default;
  // Paints the rectangle (x1, y1)-(x2, y2), corners inclusive.
  virtual void draw(int32_t x1, int32_t y1, int32_t x2, int32_t y2) = 0;
  virtual void minimumSize(int32_t &width, int32_t &height) = 0;
};

struct Color8 {
  uint8_t red = 0, green = 0, blue = 0;
};

// A user area attached to a dialog control; a plain reference to the host's area.
class UserArea {
public:
  UserArea() = default;
  explicit UserArea(HostUserArea *handle) : handle_(handle) {}

  bool attached() const { return handle_ != nullptr; }
  int32_t width() const;
  int32_t height() const;
  // Asks the host to draw the area again.
  void redraw() const;
  // Drawing, only from UserAreaHandler::draw.
  void fill(int32_t x1, int32_t y1, int32_t x2, int32_t y2, Color8 color) const;
  void drawBitmap(const Bitmap &bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                  bool smooth) const;

private:
  HostUserArea *handle_ = nullptr;
};

} // namespace ek::host
