// Loading libraries by UTF-8 path through the platform layer, with Windows error numbers.
#include <fstream>

#include <gtest/gtest.h>

#include "platform/dynamic_library.h"
#include "plugin_fixture.h"
#include "utf8_path.h"

namespace flarion_test {
namespace {

namespace platform = ek::platform;

class DynamicLibrary : public ::testing::Test {
protected:
  ScratchFolder scratch_;
};

TEST_F(DynamicLibrary, MissingFileIsError126) {
  const std::string path = standin::utf8FromPath(scratch_.path() / "libnothing.so");
  const platform::LoadResult result = platform::loadLibrary(path.c_str());
  EXPECT_EQ(result.status, platform::LoadStatus::LoadFailed);
  EXPECT_EQ(result.errorCode, platform::kErrorModuleNotFound);
  EXPECT_EQ(result.handle, nullptr);
}

TEST_F(DynamicLibrary, FileThatIsNoLibraryIsError193) {
  const std::filesystem::path file = scratch_.path() / "libtext.so";
  std::ofstream(file) << "this is not a shared library\n";
  const platform::LoadResult result = platform::loadLibrary(standin::utf8FromPath(file).c_str());
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
  const std::filesystem::path copy = scratch_.path() / u8"bibliothek-ä.so";
  std::filesystem::copy_file(fakeNoSavePngPath(), copy);
  const std::string path = standin::utf8FromPath(copy);
  const platform::LoadResult result = platform::loadLibrary(path.c_str());
  ASSERT_EQ(result.status, platform::LoadStatus::Loaded) << result.detail;
  auto version =
      reinterpret_cast<int32_t (*)()>(platform::findSymbol(result.handle, "ekApiVersion"));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version(), 6);
  EXPECT_EQ(platform::findSymbol(result.handle, "ekSavePNG"), nullptr);
  EXPECT_EQ(platform::findSymbol(nullptr, "ekApiVersion"), nullptr);
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
} // namespace flarion_test
