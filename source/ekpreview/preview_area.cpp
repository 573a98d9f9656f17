#include "ekpreview/preview_area.h"

namespace ek::plugin {

namespace {

constexpr host::Color8 kBackground{0, 0, 0};

} // namespace

void PreviewArea::draw(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  area_.fill(x1, y1, x2, y2, kBackground);
}

void PreviewArea::minimumSize(int32_t &width, int32_t &height) {
  width = kPreviewMinimumWidth;
  height = kPreviewMinimumHeight;
}

} // namespace ek::plugin
