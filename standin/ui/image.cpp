#include "ui/image.h"

#include <algorithm>
#include <cmath>

namespace standin {

RgbImage::RgbImage(int32_t width, int32_t height, Rgb fill)
    : width_(std::max(width, 0)), height_(std::max(height, 0)),
      pixels_(size_t(width_) * size_t(height_), fill) {}

void RgbImage::fill(int32_t x1, int32_t y1, int32_t x2, int32_t y2, Rgb color) {
  const int32_t left = std::max(std::min(x1, x2), 0);
  const int32_t right = std::min(std::max(x1, x2), width_ - 1);
  const int32_t top = std::max(std::min(y1, y2), 0);
  const int32_t bottom = std::min(std::max(y1, y2), height_ - 1);
  for (int32_t y = top; y <= bottom; ++y) {
    for (int32_t x = left; x <= right; ++x) {
      set(x, y, color);
    }
  }
}

Rgb RgbImage::sample(double u, double v, bool smooth) const {
  // u, v: position in source pixels, pixel centres at half-integers.
  if (!smooth) {
    const int32_t x = std::clamp(int32_t(std::floor(u)), 0, width_ - 1);
    const int32_t y = std::clamp(int32_t(std::floor(v)), 0, height_ - 1);
    return at(x, y);
  }
  const double fx = std::clamp(u - 0.5, 0.0, double(width_ - 1));
  const double fy = std::clamp(v - 0.5, 0.0, double(height_ - 1));
  const int32_t x0 = int32_t(fx), y0 = int32_t(fy);
  const int32_t x1 = std::min(x0 + 1, width_ - 1), y1 = std::min(y0 + 1, height_ - 1);
  const double tx = fx - x0, ty = fy - y0;
  auto mix = [&](uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const double top = a + (b - a) * tx;
    const double bottom = c + (d - c) * tx;
    return uint8_t(std::lround(top + (bottom - top) * ty));
  };
  const Rgb a = at(x0, y0), b = at(x1, y0), c = at(x0, y1), d = at(x1, y1);
  return {mix(a.red, b.red, c.red, d.red), mix(a.green, b.green, c.green, d.green),
          mix(a.blue, b.blue, c.blue, d.blue)};
}

void RgbImage::draw(const RgbImage &source, int32_t x, int32_t y, int32_t width, int32_t height,
                    bool smooth) {
  if (source.width_ < 1 || source.height_ < 1 || width < 1 || height < 1) {
    return;
  }
  const double scaleX = double(source.width_) / double(width);
  const double scaleY = double(source.height_) / double(height);
  for (int32_t dy = 0; dy < height; ++dy) {
    for (int32_t dx = 0; dx < width; ++dx) {
      if (contains(x + dx, y + dy)) {
        set(x + dx, y + dy, source.sample((dx + 0.5) * scaleX, (dy + 0.5) * scaleY, smooth));
      }
    }
  }
}

} // namespace standin
