// Owner of an open stdio file that closes it on every path.
#pragma once

#include <cstdio>

namespace ek::image {

class FileHandle {
public:
  explicit FileHandle(std::FILE *file) : file_(file) {}
  FileHandle(const FileHandle &) = delete;
  FileHandle &operator=(const FileHandle &) = delete;
  ~FileHandle() {
    if (file_ != nullptr) {
      std::fclose(file_);
    }
  }

  std::FILE *get() const { return file_; }
  explicit operator bool() const { return file_ != nullptr; }

  // Writes all `size` bytes; false on a short write.
  bool write(const void *data, std::size_t size) {
    return std::fwrite(data, 1, size, file_) == size;
  }

  // Closes the file now; false when the close fails (for example when buffered data cannot be
  // written).
  bool close() {
    std::FILE *file = file_;
    file_ = nullptr;
    return std::fclose(file) == 0;
  }

private:
  std::FILE *file_;
};

} // namespace ek::image
