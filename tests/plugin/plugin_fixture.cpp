#include "plugin_fixture.h"

#include <cstdlib>
#include <fstream>
#include <random>

#include "emberkit.h"
#include "host/host_ids.h"
#include "platform/dynamic_library.h"
#include "scene/builders.h"

namespace flarion_test {

namespace fs = std::filesystem;

namespace {

constexpr double kTimerPeriodMs = ek::plugin::kTimerIntervalMs;

std::string currentTestName() {
  const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "test";
  for (char &c : name) {
    if (c == '/') {
      c = '_';
    }
  }
  return name;
}

std::string fromEnvironment(const char *variable, const char *builtIn) {
  const char *value = std::getenv(variable);
  return value != nullptr && *value != '\0' ? value : builtIn;
}

} // namespace

std::string flarionModulePath() {
  return fromEnvironment("FLARION_TEST_MODULE", FLARION_MODULE_PATH);
}
std::string rendererLibraryPath() {
  return fromEnvironment("FLARION_TEST_RENDERER", RENDERER_LIBRARY_PATH);
}
std::string fakeOldVersionPath() {
  return fromEnvironment("FLARION_TEST_FAKE_OLD_VERSION", FAKE_OLD_VERSION_PATH);
}
std::string fakeNoSavePngPath() {
  return fromEnvironment("FLARION_TEST_FAKE_NO_SAVE_PNG", FAKE_NO_SAVE_PNG_PATH);
}
std::string examplesDir() { return fromEnvironment("FLARION_TEST_EXAMPLES", EXAMPLES_DIR); }

ScratchFolder::ScratchFolder(const std::string &leaf) {
  // The random part keeps apart runs of the same test in several build trees at once.
  root_ = fs::temp_directory_path() /
          ("flarion-" + currentTestName() + "-" + std::to_string(std::random_device{}()));
  fs::remove_all(root_);
  path_ = leaf.empty() ? root_ : root_ / fs::path(std::u8string(leaf.begin(), leaf.end()));
  fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  // A folder that cannot be removed (on Windows: a library in it still loaded) fails the test
  // instead of piling up in the temporary folder.
  std::error_code error;
  fs::remove_all(root_, error);
  if (error) {
    ADD_FAILURE() << "could not remove " << root_.string() << ": " << error.message();
  }
}

fs::path rendererFileName() { return ek::platform::sharedLibraryFileName("emberkit"); }

fs::path rendererSource(Renderer renderer) {
  switch (renderer) {
  case Renderer::Real:
    return rendererLibraryPath();
  case Renderer::OldVersion:
    return fakeOldVersionPath();
  case Renderer::NoSavePng:
    return fakeNoSavePngPath();
  case Renderer::None:
  case Renderer::NotLibrary:
    break;
  }
  return fs::path();
}

void stagePlugin(const fs::path &folder, Renderer renderer) {
  fs::create_directories(folder);
  const fs::path module = flarionModulePath();
  fs::copy_file(module, folder / module.filename(), fs::copy_options::overwrite_existing);
  if (renderer == Renderer::NotLibrary) {
    std::ofstream(folder / rendererFileName()) << "this is not a library\n";
  } else if (renderer != Renderer::None) {
    fs::copy_file(rendererSource(renderer), folder / rendererFileName(),
                  fs::copy_options::overwrite_existing);
  }
}

std::unique_ptr<standin::Document> makeScene() {
  auto document = std::make_unique<standin::Document>();
  document->fileName = "test.scn";
  standin::CameraSetup camera;
  camera.name = "Camera";
  camera.eye = {0.0, 100.0, -500.0};
  camera.focusDistance = 720.0;
  camera.fNumber = 4.0;
  document->addObject(standin::makeCamera(camera));
  document->activeCameraName = "Camera";
  standin::Emitter emitter;
  emitter.rate = 300.0;
  emitter.velocity = {0.0, 100.0, 0.0};
  document->particles.emitters.push_back(emitter);
  return document;
}

bool cudaDeviceAvailable() {
  namespace platform = ek::platform;
  const platform::LoadResult loaded = platform::loadLibrary(rendererLibraryPath().c_str());
  if (loaded.status != platform::LoadStatus::Loaded) {
    return false;
  }
  auto create =
      reinterpret_cast<decltype(&ekCreate)>(platform::findSymbol(loaded.handle, "ekCreate"));
  auto destroy =
      reinterpret_cast<decltype(&ekDestroy)>(platform::findSymbol(loaded.handle, "ekDestroy"));
  auto lastError =
      reinterpret_cast<decltype(&ekLastError)>(platform::findSymbol(loaded.handle, "ekLastError"));
  bool available = false;
  if (create && destroy && lastError) {
    EKContext *context = create(0);
    available = context && std::string(lastError(context)).empty();
    destroy(context);
  }
  platform::freeLibrary(loaded.handle);
  return available;
}

void PluginTest::start(Renderer renderer, standin::HostOptions options) {
  const fs::path folder = scratch_.path() / "plugins";
  stagePlugin(folder, renderer);
  host_ = std::make_unique<standin::Host>(std::move(options));
  document_ = &host_->addDocument(makeScene());
  const standin::PluginLoad load = host_->loadPlugin(folder);
  ASSERT_EQ(load.status, standin::PluginLoadStatus::Loaded) << load.message;
}

standin::DialogWindow &PluginTest::openDialog() {
  EXPECT_TRUE(host_->runCommand(kCommandId));
  window_ = host_->dialog(kCommandId);
  if (window_ == nullptr) {
    throw std::runtime_error("the command opened no dialog");
  }
  return *window_;
}

void PluginTest::reopenDialog() {
  host_->closeDialog(*window_);
  openDialog();
}

const standin::Control &PluginTest::control(int32_t id) const {
  const standin::Control *c = window_ ? window_->find(id) : nullptr;
  if (c == nullptr) {
    throw std::runtime_error("no control " + std::to_string(id) + " in the dialog");
  }
  return *c;
}

void PluginTest::tick(int32_t periods) { host_->advance(kTimerPeriodMs * periods); }

void PluginTest::TearDown() {
  if (host_) {
    host_->unloadPlugin();
    for (const std::string &misuse : host_->misuses()) {
      ADD_FAILURE() << "host recorded misuse: " << misuse;
    }
  }
}

} // namespace flarion_test
