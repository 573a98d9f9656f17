// Binding the renderer library: every failure message, the CPU fallback and that a failure is
// final. The libraries are the real one of this build and small flawed ones built by the tests.
#include <cstring>

#include "ekpreview/renderer_binding.h"
#include "loaded_library.h"
#include "plugin_fixture.h"
#include "utf8_path.h"

namespace flarion_test {
namespace {

namespace fs = std::filesystem;

class RendererBinding : public PluginTest {
protected:
  fs::path libraryFile() const { return scratch_.path() / "plugins" / rendererFileName(); }
  std::string libraryPath() const { return standin::utf8FromPath(libraryFile()); }
  standin::HostOptions german() const {
    standin::HostOptions options;
    options.currentLanguage = std::string("de-DE");
    return options;
  }
  // Opens the dialog and lets the timer run one preview update.
  void firstUpdate() {
    openDialog();
    tick();
  }
};

TEST_F(RendererBinding, MissingLibraryReportsError126WithTheFullPath) {
  start(Renderer::None);
  firstUpdate();
  EXPECT_EQ(status(), "ERROR: DLL could not be loaded (Windows error 126): " + libraryPath());
}

TEST_F(RendererBinding, MissingLibraryInGerman) {
  start(Renderer::None, german());
  firstUpdate();
  EXPECT_EQ(status(), "FEHLER: DLL nicht ladbar (Windows-Fehler 126): " + libraryPath());
}

TEST_F(RendererBinding, FileThatIsNoLibraryReportsError193) {
  start(Renderer::NotLibrary);
  firstUpdate();
  EXPECT_EQ(status(), "ERROR: DLL could not be loaded (Windows error 193): " + libraryPath());
}

TEST_F(RendererBinding, LibraryWithoutAnExportIsRefused) {
  start(Renderer::NoSavePng);
  firstUpdate();
  EXPECT_EQ(status(),
            "ERROR: DLL found, but functions are missing (wrong version?): " + libraryPath());
}

TEST_F(RendererBinding, LibraryWithAnotherVersionIsRefusedAndUnloaded) {
  start(Renderer::OldVersion, german());
  firstUpdate();
  EXPECT_EQ(status(), "FEHLER: DLL hat API-Version 5, Plugin erwartet 7. Renderer neu bauen "
                      "(build.bat): " +
                          libraryPath());
  EXPECT_FALSE(libraryIsLoaded(libraryFile())) << "the refused library is still loaded";
}

TEST_F(RendererBinding, FailureIsFinalForTheDialogsLife) {
  start(Renderer::None);
  firstUpdate();
  const std::string failure = status();
  ASSERT_TRUE(failure.starts_with("ERROR: "));
  // Putting a working library in place afterwards changes nothing, not even after reopening.
  fs::copy_file(rendererSource(Renderer::Real), libraryFile());
  ASSERT_TRUE(host_->userSetNumber(*window_, control::kExposure, 3.0));
  EXPECT_EQ(status(), failure);
  reopenDialog();
  EXPECT_EQ(status(), "Ready");
  tick();
  EXPECT_EQ(status(), failure);
  EXPECT_FALSE(libraryIsLoaded(libraryFile())) << "the library was loaded after all";
}

// The library is let go when the host unloads the plug-in, so its folder can go too.
TEST_F(RendererBinding, UnloadingThePluginUnloadsTheLibrary) {
#if defined(__SANITIZE_ADDRESS__)
  // Seen here: in the AddressSanitizer build the loader keeps the library mapped after its last
  // dlclose, so whether the plug-in let go of it cannot be told from the process's mappings.
  GTEST_SKIP() << "the sanitizer build keeps unloaded libraries mapped";
#endif
  start(Renderer::Real);
  firstUpdate();
  ASSERT_TRUE(libraryIsLoaded(libraryFile()));
  host_->unloadPlugin();
  EXPECT_FALSE(libraryIsLoaded(libraryFile())) << "the renderer library outlived the plug-in";
  std::error_code error;
  fs::remove_all(libraryFile().parent_path(), error);
  EXPECT_FALSE(error) << error.message();
}

class CpuFallback : public RendererBinding {
protected:
  void SetUp() override {
    if (cudaDeviceAvailable()) {
      GTEST_SKIP() << "CUDA device 0 is usable, so the renderer does not fall back to the CPU";
    }
  }
};

// The fallback notice would be overwritten by the first statistics line at once, so every
// statistics line carries the CPU mark while the context runs on the CPU.
TEST_F(CpuFallback, EveryStatisticsLineCarriesTheCpuMark) {
  start(Renderer::Real);
  firstUpdate();
  EXPECT_TRUE(status().starts_with("Particles: ")) << status();
  EXPECT_TRUE(status().ends_with(" | CPU")) << status();
  ASSERT_TRUE(host_->userSetNumber(*window_, control::kBrightness, 2.0));
  EXPECT_TRUE(status().ends_with(" | CPU")) << status();
}

TEST_F(CpuFallback, ReopeningCreatesANewContextWithTheLibraryStillLoaded) {
  start(Renderer::Real, german());
  firstUpdate();
  EXPECT_TRUE(status().starts_with("Partikel: ")) << status();
  reopenDialog();
  EXPECT_EQ(status(), "Bereit");
  tick();
  EXPECT_TRUE(status().starts_with("Partikel: ")) << status();
  EXPECT_TRUE(status().ends_with(" | CPU")) << status();
  EXPECT_TRUE(libraryIsLoaded(libraryFile()));
}

TEST_F(CpuFallback, PluginFolderWithNonAsciiCharacters) {
  const fs::path folder = scratch_.path() / fs::path(u8"Plug-ins für Flarion");
  stagePlugin(folder, Renderer::Real);
  host_ = std::make_unique<standin::Host>();
  host_->addDocument(makeScene());
  ASSERT_EQ(host_->loadPlugin(folder).status, standin::PluginLoadStatus::Loaded);
  firstUpdate();
  EXPECT_TRUE(status().ends_with(" | CPU")) << status();
}

// The conversion limit is checked where the path is known; a host cannot even load a module
// from so deep a folder, so the binding is called directly.
TEST(RendererBindingPath, PathBeyondTheConversionLimitIsReported) {
  ek::plugin::RendererBinding binding;
  char message[ek::plugin::kBindingMessageSize] = {};
  const std::string path = "/" + std::string(1500, 'x') + "/libemberkit.so";
  EXPECT_FALSE(
      ek::plugin::bindLibrary(binding, path.c_str(), message, ek::plugin::Language::English));
  const std::string text = message;
  EXPECT_TRUE(text.starts_with("Path could not be converted: /xxxx")) << text;
  EXPECT_EQ(text.size(), ek::plugin::kBindingMessageSize - 1); // truncated, still terminated
  EXPECT_EQ(binding.library, nullptr);
}

TEST(RendererBindingPath, BoundTableIsKeptWithoutLoadingAgain) {
  ek::plugin::RendererBinding binding;
  char message[ek::plugin::kBindingMessageSize] = {};
  ASSERT_TRUE(ek::plugin::bindLibrary(binding, rendererLibraryPath().c_str(), message,
                                      ek::plugin::Language::English))
      << message;
  ASSERT_NE(binding.library, nullptr);
  EXPECT_EQ(binding.apiVersion(), 7);
  const auto *library = binding.library;
  EXPECT_TRUE(ek::plugin::bindLibrary(binding, "/nowhere/libemberkit.so", message,
                                      ek::plugin::Language::English));
  EXPECT_EQ(binding.library, library);
  for (auto *pointer :
       {reinterpret_cast<void *>(binding.create), reinterpret_cast<void *>(binding.destroy),
        reinterpret_cast<void *>(binding.lastError), reinterpret_cast<void *>(binding.deviceInfo),
        reinterpret_cast<void *>(binding.reserve), reinterpret_cast<void *>(binding.upload),
        reinterpret_cast<void *>(binding.setCount), reinterpret_cast<void *>(binding.render),
        reinterpret_cast<void *>(binding.saveExr), reinterpret_cast<void *>(binding.savePng)}) {
    EXPECT_NE(pointer, nullptr);
  }
}

} // namespace
} // namespace flarion_test
