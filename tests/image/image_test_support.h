// Helpers of the image writer tests: a temporary folder per test and independent readers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#endif

namespace ek::test {

namespace fs = std::filesystem;

inline fs::path fromUtf8(const std::string &text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

// Each test gets an empty folder of its own, removed afterwards.
class ImageFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    // Parameterised test names contain '/', which must not make nested folders.
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir_ = fs::temp_directory_path() /
           ("ek_image_" + name + "_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(dir_, error);
  }
  // UTF-8 path of a file in the folder.
  std::string path(const std::string &name) const {
    const std::u8string text = (dir_ / fromUtf8(name)).u8string();
    return std::string(text.begin(), text.end());
  }
  bool folderEmpty() const { return fs::is_empty(dir_); }

  fs::path dir_;
};

// Opens a file named by a UTF-8 path for reading (binary).
inline std::FILE *openForReading(const std::string &utf8Path) {
#if defined(_WIN32)
  return _wfopen(fromUtf8(utf8Path).c_str(), L"rb");
#else
  return std::fopen(utf8Path.c_str(), "rb");
#endif
}

inline std::vector<uint8_t> readBytes(const std::string &utf8Path) {
  std::ifstream in(fromUtf8(utf8Path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline uint32_t readBe32(const uint8_t *p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline uint64_t readLe(const uint8_t *p, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) {
    value = value << 8 | p[i];
  }
  return value;
}

#if !defined(_WIN32)
// Files may grow to a limit while it is set; a write beyond it fails with EFBIG, as a full disk
// fails with ENOSPC.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previousHandler_);
  }

private:
  rlimit saved_{};
  void (*previousHandler_)(int) = nullptr;
};

#endif

} // namespace ek::test
