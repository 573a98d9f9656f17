// Loading libraries by UTF-8 path through the platform layer, with Windows error numbers.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/dynamic_library.h"

namespace {

namespace fs = std::filesystem;
namespace platform = ek::platform;

std::string utf8FromPath(const fs::path &path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Each test gets an empty folder of its own, removed afterwards.
class DynamicLibrary : public ::testing::Test {
protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("ek_platform_" + std::to_string(std::random_device{}()));
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(folder_, error);
  }
  fs::path folder_;
};

TEST_F(DynamicLibrary, MissingFileIsError126) {
  const std::string path = utf8FromPath(folder_ / "libnothing.so");
  const platform::LoadResult result = platform::loadLibrary(path.c_str());
  EXPECT_EQ(result.status, platform::LoadStatus::LoadFailed);
  EXPECT_EQ(result.errorCode, platform::kErrorModuleNotFound);
  EXPECT_EQ(result.handle, nullptr);
}

TEST_F(DynamicLibrary, FileThatIsNoLibraryIsError193) {
  const std::filesystem::path file = folder_ / "libtext.so";
  std::ofstream(file) << "this is not a shared library\n";
  const platform::LoadResult result = platform::loadLibrary(utf8FromPath(file).c_str());
  EXPECT_EQ(result.status, platform::LoadStatus::LoadFailed);
  EXPECT_EQ(result.errorCode, platform::kErrorBadFormat);
  EXPECT_FALSE(result.detail.empty());
}

TEST_F(DynamicLibrary, EmptyOrOverlongPathsAreNotConvertible) {
  EXPECT_EQ(platform::loadLibrary("").status, platform::LoadStatus::PathNotConvertible);
  EXPECT_EQ(platform::loadLibrary(nullptr).status, platform::LoadStatus::PathNotConvertible);
  // 1023 UTF-16 units fit with the terminator; one more does not. "ü" is one unit in two bytes.
  std::string fits = "/";
  while (fits.size() < 1023) {
    fits += 'a';
  }
  EXPECT_EQ(platform::loadLibrary(fits.c_str()).status, platform::LoadStatus::LoadFailed);
  std::string umlauts = "/";
  for (int i = 0; i < 1022; ++i) {
    umlauts += "\xC3\xBC";
  }
  EXPECT_EQ(platform::loadLibrary(umlauts.c_str()).status, platform::LoadStatus::LoadFailed);
  EXPECT_EQ(platform::loadLibrary((umlauts + "\xC3\xBC").c_str()).status,
            platform::LoadStatus::PathNotConvertible);
}

TEST_F(DynamicLibrary, ResolvesExportsByNameAndUnloads) {
  const fs::path copy = folder_ / u8"bibliothek-ä.so";
  fs::copy_file(TEST_LIBRARY_PATH, copy);
  const std::string path = utf8FromPath(copy);
  const platform::LoadResult result = platform::loadLibrary(path.c_str());
  ASSERT_EQ(result.status, platform::LoadStatus::Loaded) << result.detail;
  auto answer =
      reinterpret_cast<int32_t (*)()>(platform::findSymbol(result.handle, "platformTestAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(platform::findSymbol(result.handle, "platformTestQuestion"), nullptr);
  EXPECT_EQ(platform::findSymbol(nullptr, "platformTestAnswer"), nullptr);
  platform::freeLibrary(result.handle);
  platform::freeLibrary(nullptr);
}

TEST(SharedLibraryFileName, FollowsThePlatformsNaming) {
#if defined(_WIN32)
  EXPECT_EQ(platform::sharedLibraryFileName("emberkit"), "emberkit.dll");
#else
  EXPECT_EQ(platform::sharedLibraryFileName("emberkit"), "libemberkit.so");
#endif
}

} // namespace
