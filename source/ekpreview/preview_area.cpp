#include "ekpreview/preview_area.h"

#include <algorithm>
#include <cmath>

namespace ek::plugin {

namespace {

constexpr host::Color8 kBackground{0, 0, 0};
constexpr int32_t kRgbaStride = 4;

} // namespace

Placement placeBitmap(int32_t areaWidth, int32_t areaHeight, int32_t bitmapWidth,
                      int32_t bitmapHeight) {
  double s = 1.0;
  if (areaWidth > 0 && areaHeight > 0) {
    s = std::min(
        {double(areaWidth) / double(bitmapWidth), double(areaHeight) / double(bitmapHeight), 1.0});
  }
  Placement p;
  p.width = std::max(int32_t(std::floor(double(bitmapWidth) * s)), 1);
  p.height = std::max(int32_t(std::floor(double(bitmapHeight) * s)), 1);
  p.x = p.width < areaWidth ? (areaWidth - p.width) / 2 : 0;
  p.y = p.height < areaHeight ? (areaHeight - p.height) / 2 : 0;
  p.smooth = s < 1.0;
  return p;
}

void PreviewArea::show(const uint8_t *rgba, int32_t width, int32_t height) {
  if (bitmapWidth_ != width || bitmapHeight_ != height) {
    if (!bitmap_.init(width, height)) {
      bitmapWidth_ = bitmapHeight_ = 0;
      area_.redraw();
      return;
    }
  }
  const size_t rowBytes = size_t(width) * kRgbaStride;
  for (int32_t y = 0; y < height; ++y) {
    bitmap_.setRow(y, width, rgba + size_t(y) * rowBytes, kRgbaStride);
  }
  bitmapWidth_ = width;
  bitmapHeight_ = height;
  area_.redraw();
}

void PreviewArea::draw(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  area_.fill(x1, y1, x2, y2, kBackground);
  if (bitmapWidth_ <= 0 || bitmapHeight_ <= 0) {
    return;
  }
  const Placement p = placeBitmap(area_.width(), area_.height(), bitmapWidth_, bitmapHeight_);
  area_.drawBitmap(bitmap_, p.x, p.y, p.width, p.height, p.smooth);
}

void PreviewArea::minimumSize(int32_t &width, int32_t &height) {
  width = kPreviewMinimumWidth;
  height = kPreviewMinimumHeight;
}

} // namespace ek::plugin
