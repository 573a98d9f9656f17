// The dialog's preview area.
#pragma once

#include "host/user_area.h"

namespace ek::plugin {

constexpr int32_t kPreviewMinimumWidth = 320;
constexpr int32_t kPreviewMinimumHeight = 180;

// Paints the area black. Showing the rendered image belongs to the live preview, which draws its
// bitmap here once particles are read and rendered.
class PreviewArea final : public host::UserAreaHandler {
public:
  void attach(host::UserArea area) { area_ = area; }
  const host::UserArea &area() const { return area_; }

  void draw(int32_t x1, int32_t y1, int32_t x2, int32_t y2) override;
  void minimumSize(int32_t &width, int32_t &height) override;

private:
  host::UserArea area_;
};

} // namespace ek::plugin
