// RGB images of the stand-in: host bitmaps and the pixels of user areas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace standin {

struct Rgb {
  uint8_t red = 0, green = 0, blue = 0;
  bool operator==(const Rgb &) const = default;
};

class RgbImage {
public:
  RgbImage() = default;
  RgbImage(int32_t width, int32_t height, Rgb fill = {});

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  bool contains(int32_t x, int32_t y) const {
    return x >= 0 && y >= 0 && x < width_ && y < height_;
  }
  Rgb at(int32_t x, int32_t y) const { return pixels_[size_t(y) * size_t(width_) + size_t(x)]; }
  void set(int32_t x, int32_t y, Rgb color) {
    pixels_[size_t(y) * size_t(width_) + size_t(x)] = color;
  }
  const std::vector<Rgb> &pixels() const { return pixels_; }

  // Fills the rectangle with both corners inclusive, clipped to the image.
  void fill(int32_t x1, int32_t y1, int32_t x2, int32_t y2, Rgb color);
  // Draws the whole source into the rectangle (x, y, width, height), scaled to it and clipped to
  // this image; smooth scaling interpolates bilinearly, otherwise the nearest pixel is taken.
  void draw(const RgbImage &source, int32_t x, int32_t y, int32_t width, int32_t height,
            bool smooth);

private:
  Rgb sample(double u, double v, bool smooth) const;

  int32_t width_ = 0;
  int32_t height_ = 0;
  std::vector<Rgb> pixels_;
};

} // namespace standin
