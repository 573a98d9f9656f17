#include "ui/png_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <png.h>

namespace standin {

namespace {

static_assert(sizeof(Rgb) == 3, "rows of Rgb are handed to libpng as packed samples");

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

// The system's reason for the last failure, or the fallback when there is none.
std::string reason(const char *fallback) { return errno != 0 ? std::strerror(errno) : fallback; }

} // namespace

std::string savePng(const RgbImage &image, const std::filesystem::path &file) {
  if (image.width() < 1 || image.height() < 1) {
    return "the image is empty";
  }
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(file.string().c_str(), "wb"));
  if (!out) {
    return "cannot create " + file.string() + ": " + reason("unknown error");
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, nullptr);
    return "out of memory";
  }
  std::vector<png_bytep> rows(size_t(image.height()));
  for (int32_t y = 0; y < image.height(); ++y) {
    // Rgb is three packed bytes, so a row of pixels is a row of PNG samples.
    rows[size_t(y)] = const_cast<png_bytep>(
        reinterpret_cast<const png_byte *>(&image.pixels()[size_t(y) * size_t(image.width())]));
  }
  if (setjmp(png_jmpbuf(png))) {
    const std::string why = reason("write error");
    png_destroy_write_struct(&png, &info);
    return "cannot write " + file.string() + ": " + why;
  }
  errno = 0;
  png_init_io(png, out.get());
  png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  // Buffered bytes reach the file only now; a full disk shows here.
  errno = 0;
  if (std::fclose(out.release()) != 0) {
    return "cannot write " + file.string() + ": " + reason("write error");
  }
  return std::string();
}

} // namespace standin
