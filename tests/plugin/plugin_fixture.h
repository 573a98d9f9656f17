// Running the real plug-in module in the stand-in host, in a folder of each test's own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "ekpreview/plugin_ids.h"
#include "host.h"

namespace flarion_test {

namespace control = ek::plugin::control;
using ek::plugin::kCommandId;

// A fresh folder under the system's temporary folder, removed with this value; a failed removal
// fails the test.
class ScratchFolder {
public:
  explicit ScratchFolder(const std::string &leaf = "");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;
  const std::filesystem::path &path() const { return path_; }

private:
  std::filesystem::path root_;
  std::filesystem::path path_;
};

// Which renderer library lies next to the plug-in module.
enum class Renderer {
  None,       // no library at all
  Real,       // the renderer library of this build
  OldVersion, // a library reporting interface version 5
  NoSavePng,  // a library without ekSavePNG
  NotLibrary, // a text file under the library's name
};

// Where the build put the plug-in module, the renderer library, the flawed renderer libraries and
// the example scenes. An environment variable (named beside each) replaces the built-in path, so
// that the tests also run from a copy of the build outputs in another folder.
std::string flarionModulePath();   // FLARION_TEST_MODULE
std::string rendererLibraryPath(); // FLARION_TEST_RENDERER
std::string fakeOldVersionPath();  // FLARION_TEST_FAKE_OLD_VERSION
std::string fakeNoSavePngPath();   // FLARION_TEST_FAKE_NO_SAVE_PNG
std::string examplesDir();         // FLARION_TEST_EXAMPLES

std::filesystem::path rendererFileName();
std::filesystem::path rendererSource(Renderer renderer);
// Copies the plug-in module into the folder, and the chosen renderer library under its name.
void stagePlugin(const std::filesystem::path &folder, Renderer renderer);

// A document with a camera named "Camera" (focus 720, f/4) that the active view looks through.
std::unique_ptr<standin::Document> makeScene();

// The real library reports a usable CUDA device 0 (then no CPU fallback happens).
bool cudaDeviceAvailable();

class PluginTest : public ::testing::Test {
protected:
  // Stages the plug-in with the renderer, starts a host with the options, adds a scene and loads
  // the plug-in.
  void start(Renderer renderer, standin::HostOptions options = {});
  // Runs the command and returns its dialog window.
  standin::DialogWindow &openDialog();
  void reopenDialog();
  const standin::Control &control(int32_t id) const;
  std::string status() const { return control(control::kStatus).text; }
  // Advances the virtual clock by whole timer periods.
  void tick(int32_t periods = 1);

  void TearDown() override;

  ScratchFolder scratch_;
  std::unique_ptr<standin::Host> host_;
  standin::Document *document_ = nullptr;
  standin::DialogWindow *window_ = nullptr;
};

} // namespace flarion_test
