// The dialog's preview area: shows the last rendered image, scaled down to fit and centred.
#pragma once

#include <cstdint>

#include "host/bitmap.h"
#include "host/user_area.h"

namespace ek::plugin {

constexpr int32_t kPreviewMinimumWidth = 320;
constexpr int32_t kPreviewMinimumHeight = 180;

// Where a bitmap of w x h lands in an area of A x B: scaled down (never up) to fit, centred.
struct Placement {
  int32_t x = 0, y = 0, width = 0, height = 0;
  bool smooth = false; // scaled down, so the host should filter
};
Placement placeBitmap(int32_t areaWidth, int32_t areaHeight, int32_t bitmapWidth,
                      int32_t bitmapHeight);

class PreviewArea final : public host::UserAreaHandler {
public:
  void attach(host::UserArea area) { area_ = area; }
  const host::UserArea &area() const { return area_; }

  // Copies an RGBA image (4 bytes per pixel, top row first) into the bitmap, without its alpha,
  // and asks the host to draw the area again.
  void show(const uint8_t *rgba, int32_t width, int32_t height);

  void draw(int32_t x1, int32_t y1, int32_t x2, int32_t y2) override;
  void minimumSize(int32_t &width, int32_t &height) override;

private:
  host::UserArea area_;
  host::Bitmap bitmap_;
  int32_t bitmapWidth_ = 0; // size of the image in the bitmap; 0 x 0 when there is none
  int32_t bitmapHeight_ = 0;
};

} // namespace ek::plugin
