// User areas and bitmaps.
#include "table/table_common.h"

namespace standin {

namespace {

constexpr int32_t kBitmapBitsPerPixel = 24;
constexpr int32_t kRgbBytes = 3;

// The user area while its draw callback runs; drawing at other times is misuse.
UserAreaState *drawingArea(HostState &s, HostUserArea *handle, const char *operation) {
  UserAreaState *area = s.userArea(handle, operation);
  if (area && !area->drawing) {
    s.recordMisuse(operation, "drawing outside the draw callback");
    return nullptr;
  }
  return area;
}

Size areaSize(HostInstance *instance, HostUserArea *handle, const char *operation) {
  UserAreaState *area = stateOf(instance, operation).userArea(handle, operation);
  return area ? area->window->userAreaSizes[area->controlId] : Size{};
}

int32_t userAreaWidth(HostInstance *instance, HostUserArea *handle) {
  return areaSize(instance, handle, "userAreaWidth").width;
}

int32_t userAreaHeight(HostInstance *instance, HostUserArea *handle) {
  return areaSize(instance, handle, "userAreaHeight").height;
}

void userAreaRedraw(HostInstance *instance, HostUserArea *handle) {
  HostState &s = stateOf(instance, "userAreaRedraw");
  if (UserAreaState *area = s.userArea(handle, "userAreaRedraw")) {
    area->needsDraw = true;
    s.previewActivity.redrawWindow = area->window->handle;
    s.previewActivity.redrawArea = area->controlId;
  }
}

void userAreaFill(HostInstance *instance, HostUserArea *handle, int32_t x1, int32_t y1, int32_t x2,
                  int32_t y2, uint8_t red, uint8_t green, uint8_t blue) {
  HostState &s = stateOf(instance, "userAreaFill");
  if (UserAreaState *area = drawingArea(s, handle, "userAreaFill")) {
    area->canvas.fill(x1, y1, x2, y2, Rgb{red, green, blue});
  }
}

void userAreaDrawBitmap(HostInstance *instance, HostUserArea *handle, HostBitmap *bitmap, int32_t x,
                        int32_t y, int32_t width, int32_t height, int32_t smooth) {
  HostState &s = stateOf(instance, "userAreaDrawBitmap");
  UserAreaState *area = drawingArea(s, handle, "userAreaDrawBitmap");
  const RgbImage *image = s.bitmap(bitmap, "userAreaDrawBitmap");
  if (area && image) {
    area->canvas.draw(*image, x, y, width, height, smooth != 0);
  }
}

HostBitmap *bitmapCreate(HostInstance *instance) {
  HostState &s = stateOf(instance, "bitmapCreate");
  const uintptr_t handle = s.handles.next();
  s.bitmaps[handle] = std::make_unique<RgbImage>();
  return asHandle<HostBitmap>(handle);
}

void bitmapFree(HostInstance *instance, HostBitmap *handle) {
  HostState &s = stateOf(instance, "bitmapFree");
  if (s.bitmap(handle, "bitmapFree")) {
    s.bitmaps.erase(reinterpret_cast<uintptr_t>(handle));
  }
}

int32_t bitmapInit(HostInstance *instance, HostBitmap *handle, int32_t width, int32_t height,
                   int32_t bitsPerPixel) {
  HostState &s = stateOf(instance, "bitmapInit");
  RgbImage *image = s.bitmap(handle, "bitmapInit");
  if (!image || width < 1 || height < 1 || bitsPerPixel != kBitmapBitsPerPixel) {
    return 0;
  }
  *image = RgbImage(width, height);
  return 1;
}

int32_t bitmapWidth(HostInstance *instance, HostBitmap *handle) {
  const RgbImage *image = stateOf(instance, "bitmapWidth").bitmap(handle, "bitmapWidth");
  return image ? image->width() : 0;
}

int32_t bitmapHeight(HostInstance *instance, HostBitmap *handle) {
  const RgbImage *image = stateOf(instance, "bitmapHeight").bitmap(handle, "bitmapHeight");
  return image ? image->height() : 0;
}

int32_t bitmapSetRow(HostInstance *instance, HostBitmap *handle, int32_t y, int32_t count,
                     const uint8_t *pixels, int32_t stride) {
  HostState &s = stateOf(instance, "bitmapSetRow");
  RgbImage *image = s.bitmap(handle, "bitmapSetRow");
  if (!image) {
    return 0;
  }
  if (y < 0 || y >= image->height() || count < 0 || count > image->width()) {
    s.recordMisuse("bitmapSetRow", "row " + std::to_string(y) + " with " + std::to_string(count) +
                                       " pixels lies beyond the bitmap's " +
                                       std::to_string(image->width()) + " x " +
                                       std::to_string(image->height()));
    return 0;
  }
  if (!pixels || stride < kRgbBytes) {
    s.recordMisuse("bitmapSetRow", "pixels must be given with a stride of at least 3 bytes");
    return 0;
  }
  for (int32_t x = 0; x < count; ++x) {
    const uint8_t *p = pixels + size_t(x) * size_t(stride);
    image->set(x, y, Rgb{p[0], p[1], p[2]});
  }
  s.previewActivity.rowsSet = true;
  s.previewActivity.bitmapSize = Size{image->width(), image->height()};
  return 1;
}

} // namespace

void fillDrawingOperations(HostApi &api) {
  api.userAreaWidth = userAreaWidth;
  api.userAreaHeight = userAreaHeight;
  api.userAreaRedraw = userAreaRedraw;
  api.userAreaFill = userAreaFill;
  api.userAreaDrawBitmap = userAreaDrawBitmap;
  api.bitmapCreate = bitmapCreate;
  api.bitmapFree = bitmapFree;
  api.bitmapInit = bitmapInit;
  api.bitmapWidth = bitmapWidth;
  api.bitmapHeight = bitmapHeight;
  api.bitmapSetRow = bitmapSetRow;
}

} // namespace standin
