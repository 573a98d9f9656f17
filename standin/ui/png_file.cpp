#include "ui/png_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/file_open.h"
#include "utf8_path.h"

// stb_image_write's PNG encoder, compiled into this file only. It writes through a callback, so the
// file is opened by the platform layer (UTF-8 paths on every system).
#include "stb_image_write_static.h"

namespace standin {

namespace {

static_assert(sizeof(Rgb) == 3, "rows of Rgb are handed to the encoder as packed samples");

constexpr int kRgbComponents = 3;

struct Output {
  std::FILE *file;
  bool failed = false;
  int reason = 0; // errno of the first failed write
};

void writeBytes(void *context, void *data, int size) {
  auto *output = static_cast<Output *>(context);
  if (!output->failed && std::fwrite(data, 1, size_t(size), output->file) != size_t(size)) {
    output->failed = true;
    output->reason = errno;
  }
}

// The system's reason for a failure, or the fallback when there is none.
std::string reason(int error, const char *fallback) {
  return error != 0 ? std::strerror(error) : fallback;
}

} // namespace

std::string savePng(const RgbImage &image, const std::filesystem::path &file) {
  if (image.width() < 1 || image.height() < 1) {
    return "the image is empty";
  }
  const std::string path = utf8FromPath(file);
  errno = 0;
  Output output{ek::platform::openForWriting(path.c_str())};
  if (output.file == nullptr) {
    return "cannot create " + path + ": " + reason(errno, "unknown error");
  }
  errno = 0;
  const int encoded =
      stbi_write_png_to_func(writeBytes, &output, image.width(), image.height(), kRgbComponents,
                             image.pixels().data(), image.width() * kRgbComponents);
  if (encoded == 0 && !output.failed) {
    std::fclose(output.file);
    return "out of memory";
  }
  // Buffered bytes reach the file only at the close; a full disk may show only there.
  errno = 0;
  const bool closed = std::fclose(output.file) == 0;
  if (output.failed || !closed) {
    return "cannot write " + path + ": " + reason(output.failed ? output.reason : errno,
                                                   "write error");
  }
  return std::string();
}

} // namespace standin
