// The live preview through the stand-in host, as a user sees it: the picture in the preview area,
// the statistics line, and when the plug-in reads and renders again.
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>

#include "ekpreview/flarion_dialog.h"
#include "ekpreview/preview_memory.h"
#include "ekpreview/renderer_binding.h"
#include "host/connection.h"
#include "host/document.h"
#include "host/host_ids.h"
#include "plugin_fixture.h"
#include "scene/builders.h"
#include "utf8_path.h"

namespace flarion_test {
namespace {

namespace fs = std::filesystem;
namespace plugin = ek::plugin;

constexpr int32_t kWidth = 640, kHeight = 360;

class LivePreview : public PluginTest {
protected:
  virtual standin::HostOptions hostOptions() const { return {}; }
  void SetUp() override {
    start(Renderer::Real, hostOptions());
    // A wider fountain than the fixture's, simulated from its start.
    standin::Emitter e = document_->particles.emitters.front();
    e.halfSize = {60.0, 0.0, 60.0};
    e.spreadDegrees = 30.0;
    e.startColor = {1.0f, 0.6f, 0.2f};
    document_->particles = standin::ParticleSystem{};
    document_->particles.emitters = {e};
    host_->setFrame(*document_, 30);
    openDialog();
    host_->setUserAreaSize(*window_, control::kPreviewArea, kWidth, kHeight);
  }
  const standin::RgbImage &picture() const {
    return *host_->userAreaImage(*window_, control::kPreviewArea);
  }
  std::vector<standin::PreviewEvent> images() const {
    std::vector<standin::PreviewEvent> list;
    for (const standin::PreviewEvent &e : host_->previewEvents()) {
      if (e.kind == standin::PreviewEvent::Kind::Image) {
        list.push_back(e);
      }
    }
    return list;
  }
  // Makes the active camera a spherical one with the given settings.
  void makeSpherical(const standin::SphericalRig &rig) {
    standin::CameraSetup camera;
    camera.name = "Dome";
    camera.eye = {0.0, 50.0, 0.0};
    camera.target = {0.0, 50.0, 100.0};
    camera.spherical = rig;
    document_->addObject(standin::makeCamera(camera));
    document_->activeCameraName = "Dome";
    host_->sceneChanged(*document_);
  }
  int64_t litPixels() const {
    int64_t lit = 0;
    for (const standin::Rgb &p : picture().pixels()) {
      lit += (p.red | p.green | p.blue) != 0 ? 1 : 0;
    }
    return lit;
  }
};

// The renderer called directly with the scene's particles and a camera worked out by hand from
// the host camera's matrix, on the device the plug-in uses.
std::vector<uint8_t> renderDirectly(const standin::Document &scene, int32_t width, int32_t height) {
  plugin::RendererBinding r;
  char message[plugin::kBindingMessageSize] = {};
  EXPECT_TRUE(
      plugin::bindLibrary(r, rendererLibraryPath().c_str(), message, plugin::Language::English))
      << message;
  EKContext *context = r.create(cudaDeviceAvailable() ? 0 : EK_DEVICE_CPU);
  std::vector<EKV3> positions;
  std::vector<uint8_t> colors;
  for (const standin::Particle &p : scene.particles.particles()) {
    if (!p.alive) {
      continue;
    }
    positions.push_back({float(p.position.x), float(p.position.y), float(-p.position.z)});
    for (float c : {p.color.red, p.color.green, p.color.blue}) {
      colors.push_back(uint8_t(std::clamp(c, 0.0f, 1.0f) * 255.0f));
    }
    colors.push_back(255);
  }
  const uint64_t count = positions.size();
  EXPECT_EQ(r.reserve(context, count, 0), 0);
  EXPECT_EQ(r.upload(context, positions.data(), colors.data(), nullptr, count, 0), 0);
  EXPECT_EQ(r.setCount(context, count), 0);

  const standin::Matrix m = scene.activeCamera()->matrix;
  EKCamera camera{};
  camera.eye = {float(m.offset.x), float(m.offset.y), float(-m.offset.z)};
  camera.target = {float(m.offset.x + m.axisZ.x), float(m.offset.y + m.axisZ.y),
                   float(-(m.offset.z + m.axisZ.z))};
  camera.up = {float(m.axisY.x), float(m.axisY.y), float(-m.axisY.z)};
  camera.fovY =
      float(2.0 * std::atan(0.5 * height / width) * 180.0 / std::numbers::pi); // 36 mm on 36 mm
  EKRenderSettings settings{};
  settings.width = width;
  settings.height = height;
  settings.brightness = float(0.15 * width * height / double(count));
  settings.exposure = 1.0f;
  settings.radius = 2.0f;
  settings.samples = 1;
  settings.shadowMapSize = 512;
  settings.shadowSlices = 64;
  settings.cameraSlices = 32;
  std::vector<uint8_t> image(size_t(width) * size_t(height) * 4);
  float gpuMs = 0.0f;
  EXPECT_EQ(r.render(context, &camera, &settings, nullptr, 0, image.data(), nullptr, &gpuMs), 0)
      << r.lastError(context);
  r.destroy(context);
  ek::platform::freeLibrary(r.library);
  return image;
}

TEST_F(LivePreview, ShowsWhatTheRendererDrawsOfTheScene) {
  tick();
  ASSERT_TRUE(status().starts_with("Particles: ")) << status();
  const std::vector<uint8_t> expected = renderDirectly(*document_, kWidth, kHeight);
  const standin::RgbImage &shown = picture();
  ASSERT_EQ(shown.width(), kWidth);
  int64_t different = 0, lit = 0;
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      const uint8_t *e = &expected[(size_t(y) * kWidth + size_t(x)) * 4];
      const standin::Rgb p = shown.at(x, y);
      different += (p.red != e[0] || p.green != e[1] || p.blue != e[2]) ? 1 : 0;
      lit += e[0] != 0 ? 1 : 0;
    }
  }
  EXPECT_GT(lit, 100) << "the scene's particles should be in view";
  EXPECT_EQ(different, 0);
}

TEST_F(LivePreview, StatisticsLineCountsTheLivingParticles) {
  tick();
  size_t living = 0;
  for (const standin::Particle &p : document_->particles.particles()) {
    living += p.alive ? 1 : 0;
  }
  ASSERT_GT(living, 0u);
  EXPECT_TRUE(status().starts_with("Particles: " + std::to_string(living) + " | Samples: "))
      << status();
  ASSERT_TRUE(host_->userSetBool(*window_, control::kMotionBlur, true));
  EXPECT_NE(status().find(" | TP mean speed (raw): 100.0"), std::string::npos) << status();
}

TEST_F(LivePreview, WithoutACameraTheStatusSaysSo) {
  document_->activeCameraName = "nobody";
  tick();
  EXPECT_EQ(status(), "No camera found");
  EXPECT_EQ(litPixels(), 0);
}

TEST_F(LivePreview, LiveWithNothingChangingRendersOnce) {
  host_->runTicks(10);
  ASSERT_EQ(images().size(), 1u);
  EXPECT_EQ(images()[0].width, kWidth);
  EXPECT_EQ(images()[0].height, kHeight);
  EXPECT_EQ(images()[0].status, status());
  // Moving the time slider reads and renders again.
  host_->setFrame(*document_, 31);
  host_->runTicks(3);
  EXPECT_EQ(images().size(), 2u);
}

TEST_F(LivePreview, ExposureAloneRendersWithoutReadingTheParticles) {
  host_->runTicks(1);
  document_->particleQueriesFailFrom = 0; // from now on any read would fail
  ASSERT_TRUE(host_->userSetNumber(*window_, control::kExposure, 2.0));
  ASSERT_EQ(images().size(), 2u);
  EXPECT_TRUE(status().starts_with("Particles: ")) << status();
  // A new frame must be read, which fails now; the picture stays and the next update tries again.
  host_->setFrame(*document_, 31);
  host_->runTicks(1);
  EXPECT_TRUE(status().starts_with("ERROR: the host could not give particle 1 of ")) << status();
  EXPECT_EQ(images().size(), 2u);
  document_->particleQueriesFailFrom = -1;
  host_->runTicks(1);
  EXPECT_EQ(images().size(), 3u);
}

TEST_F(LivePreview, AnAreaBelow16PixelsPausesTheUpdates) {
  host_->runTicks(1);
  host_->setUserAreaSize(*window_, control::kPreviewArea, kWidth, 15);
  ASSERT_TRUE(host_->userSetNumber(*window_, control::kExposure, 2.0));
  host_->setFrame(*document_, 31);
  host_->runTicks(3);
  EXPECT_EQ(images().size(), 1u);
  host_->setUserAreaSize(*window_, control::kPreviewArea, kWidth, 16);
  host_->runTicks(1);
  ASSERT_EQ(images().size(), 2u);
  EXPECT_EQ(images()[1].height, 16);
}

TEST_F(LivePreview, BusyHostOrAnotherThreadPausesTheUpdates) {
  host_->setBusy(ek::host::state::kBusyEditorRendering, true);
  host_->runTicks(2);
  EXPECT_EQ(images().size(), 0u);
  host_->setBusy(ek::host::state::kBusyEditorRendering, false);
  host_->setMainThreadAnswer(false);
  host_->runTicks(2);
  EXPECT_EQ(images().size(), 0u);
  host_->setMainThreadAnswer(true);
  host_->runTicks(1);
  EXPECT_EQ(images().size(), 1u);
}

TEST_F(LivePreview, ClosingAndReopeningReadsAndRendersAgain) {
  host_->runTicks(1);
  reopenDialog();
  document_->particleQueriesFailFrom = 0; // shows whether the next update reads
  host_->runTicks(1);
  EXPECT_TRUE(status().starts_with("ERROR: the host could not give particle")) << status();
  document_->particleQueriesFailFrom = -1;
  host_->runTicks(1);
  EXPECT_EQ(images().size(), 2u);
  EXPECT_TRUE(status().starts_with("Particles: ")) << status();
}

TEST_F(LivePreview, ShrinkingParticleCountIsReadWithoutOverrun) {
  host_->runTicks(1);
  host_->setFrame(*document_, 3); // back in time: the simulation starts over with fewer slots
  host_->runTicks(1);
  size_t living = 0;
  for (const standin::Particle &p : document_->particles.particles()) {
    living += p.alive ? 1 : 0;
  }
  EXPECT_EQ(images().size(), 2u);
  EXPECT_TRUE(status().starts_with("Particles: " + std::to_string(living) + " |")) << status();
  // TearDown fails the test on any out-of-range particle query the host recorded.
}

TEST_F(LivePreview, SphericalCameraKeepsTheRenderSettingsAspect) {
  standin::SphericalRig mono;
  makeSpherical(mono);
  host_->setUserAreaSize(*window_, control::kPreviewArea, 800, 600);
  document_->render.width = 1920;
  document_->render.height = 1080;
  host_->runTicks(1);
  ASSERT_EQ(images().size(), 1u);
  EXPECT_EQ(images()[0].width, 800);
  EXPECT_EQ(images()[0].height, 450);
  EXPECT_TRUE(status().ends_with(" | Spherical mono | CPU") ||
              status().ends_with(" | Spherical mono"))
      << status();
  document_->render.width = 4000.4; // a real size is rounded
  document_->render.height = 10;
  host_->runTicks(1);
  ASSERT_EQ(images().size(), 2u);
  EXPECT_EQ(images()[1].width, 800);
  EXPECT_EQ(images()[1].height, 16);
}

TEST_F(LivePreview, SideBySideStereoShowsBothEyes) {
  standin::SphericalRig stereo;
  stereo.stereoMode = ek::host::camera::kStereoToeIn;
  stereo.stereoLayout = ek::host::camera::kLayoutSideBySide;
  stereo.zeroParallaxDistance = 200.0;
  makeSpherical(stereo);
  document_->render.width = 2000;
  document_->render.height = 1000;
  host_->setUserAreaSize(*window_, control::kPreviewArea, 641, 400);
  host_->runTicks(1);
  ASSERT_EQ(images().size(), 1u);
  EXPECT_EQ(images()[0].width, 641);
  EXPECT_EQ(images()[0].height, 320);
  EXPECT_NE(status().find(" | Spherical stereo (toe-in, side by side)"), std::string::npos)
      << status();
  // The particles rise in front of the rig: each eye sees them in its own half.
  const standin::RgbImage &shown = picture();
  const plugin::Placement at = plugin::placeBitmap(641, 400, 641, 320);
  int64_t left = 0, right = 0;
  for (int32_t y = at.y; y < at.y + at.height; ++y) {
    for (int32_t x = 0; x < 641; ++x) {
      const standin::Rgb p = shown.at(x, y);
      if ((p.red | p.green | p.blue) != 0) {
        ++(x < 320 ? left : right);
      }
    }
  }
  EXPECT_GT(left, 10);
  EXPECT_GT(right, 10);
}

// Where each eye of a toe-in stereo rig puts a particle, worked out by hand. The rig at (0, 50, 0)
// looks along +z; each eye sits d = 30 (half the separation of 60) off the axis and turns in by
// T = atan(d / Z) towards the zero-parallax distance Z = 300. A particle straight ahead at
// horizontal distance R appears at longitude side x (T - asin((p sin T + d cos T) / R)) with
// side -1 for the left eye, +1 for the right eye, and pivot offset p; in a 720-pixel-wide eye
// tile spanning 360 degrees, longitude 0 is column 360 and one radian is 114.59 columns.
//   p = 0:  R = 300 (= Z): 360.000 in both eyes
//           R = 100 (nearer): left 383.315, right 336.685 (crossed: each eye moves inward)
//           R = 900 (farther): left 352.380, right 367.620 (the other way)
//   p = 20: R = 300: left 360.764, right 359.236; R = 100: left 385.713, right 334.287;
//           R = 900: left 352.634, right 367.366
// The three particles sit at latitudes 30, 0 and -30 degrees (rows 120, 180, 240 of 360), which
// does not change their longitudes, so one image shows all three.
TEST_F(LivePreview, StereoEyesPutParticlesWhereTheRigLooks) {
  const struct {
    double pivot;
    double zeroParallax[2], nearer[2], farther[2]; // left, right
  } cases[] = {{0.0, {360.0, 360.0}, {383.315, 336.685}, {352.380, 367.620}},
               {20.0, {360.764, 359.236}, {385.713, 334.287}, {352.634, 367.366}}};
  constexpr double kTan30 = 0.57735026918962573;
  constexpr int32_t kEyeWidth = 720, kHeight = 360;
  document_->render.width = 2 * kEyeWidth;
  document_->render.height = kHeight;
  host_->setUserAreaSize(*window_, control::kPreviewArea, 2 * kEyeWidth, kHeight);
  standin::Particle nearer, atZeroParallax, farther;
  nearer.position = {0.0, 50.0 + 100.0 * kTan30, 100.0};
  atZeroParallax.position = {0.0, 50.0, 300.0};
  farther.position = {0.0, 50.0 - 900.0 * kTan30, 900.0};
  document_->particles = standin::ParticleSystem{};
  document_->particles.fixed = {nearer, atZeroParallax, farther};
  document_->particles.simulateTo(30, document_->fps, 0);
  // The mean column (pixel centres) of the lit pixels of one eye's tile within 30 rows of `row`.
  auto column = [&](int32_t eye, int32_t row) {
    double sum = 0.0;
    int64_t lit = 0;
    for (int32_t y = row - 30; y < row + 30; ++y) {
      for (int32_t x = 0; x < kEyeWidth; ++x) {
        const standin::Rgb p = picture().at(eye * kEyeWidth + x, y);
        if ((p.red | p.green | p.blue) != 0) {
          sum += x + 0.5;
          ++lit;
        }
      }
    }
    return lit > 0 ? sum / double(lit) : -1.0;
  };
  for (const auto &c : cases) {
    standin::SphericalRig rig;
    rig.stereoMode = ek::host::camera::kStereoToeIn;
    rig.stereoLayout = ek::host::camera::kLayoutSideBySide;
    rig.eyeSeparation = 60.0;
    rig.zeroParallaxDistance = 300.0;
    rig.pivotOffset = c.pivot;
    document_->objects.clear();
    makeSpherical(rig);
    host_->runTicks(1);
    ASSERT_EQ(images().back().width, 2 * kEyeWidth) << status();
    for (int32_t eye : {0, 1}) {
      const char *name = eye == 0 ? "left" : "right";
      EXPECT_NEAR(column(eye, 180), c.zeroParallax[eye], 1.0) << name << ", pivot " << c.pivot;
      EXPECT_NEAR(column(eye, 120), c.nearer[eye], 1.0) << name << ", pivot " << c.pivot;
      EXPECT_NEAR(column(eye, 240), c.farther[eye], 1.0) << name << ", pivot " << c.pivot;
    }
  }
}

// Particles at not-a-number or infinite positions cannot be drawn; in the volumetric look one of
// them would also spoil the cloud's bounds and so every shadow map. They are left out.
TEST_F(LivePreview, ParticlesAtNonFinitePositionsDoNotSpoilThePicture) {
  ASSERT_TRUE(host_->userSetNumber(*window_, control::kEmission, 2.0)); // no lights in the scene
  for (int32_t mode : {0, 1}) {
    ASSERT_TRUE(host_->userChoose(*window_, control::kMode, mode));
    const std::vector<standin::Rgb> clean = picture().pixels();
    const std::string cleanStatus = status();
    ASSERT_GT(litPixels(), 100) << "mode " << mode;
    standin::Particle nan, inf, minusInf;
    nan.position = {std::nan(""), 0.0, 0.0};
    inf.position = {0.0, HUGE_VAL, 0.0};
    minusInf.position = {0.0, 0.0, -HUGE_VAL};
    document_->particles.fixed = {nan, inf, minusInf};
    document_->particles.simulateTo(0, document_->fps, 0); // starts over with them in front
    document_->particles.simulateTo(30, document_->fps, 0);
    host_->sceneChanged(*document_);
    host_->runTicks(1);
    EXPECT_EQ(status().substr(0, status().find(" | Read")),
              cleanStatus.substr(0, cleanStatus.find(" | Read")));
    EXPECT_TRUE(picture().pixels() == clean) << "mode " << mode;
    document_->particles.fixed.clear();
    document_->particles.simulateTo(0, document_->fps, 0);
    document_->particles.simulateTo(30, document_->fps, 0);
    host_->sceneChanged(*document_);
  }
}

class GermanPreview : public LivePreview {
protected:
  standin::HostOptions hostOptions() const override {
    standin::HostOptions german;
    german.currentLanguage = std::string("de-DE");
    return german;
  }
};

TEST_F(GermanPreview, VolumetricLineCountsTheLights) {
  for (int i = 0; i < 9; ++i) {
    standin::LightSetup light;
    light.lightType = i == 0 ? ek::host::light::kTypeArea : ek::host::light::kTypeOmni;
    light.position = {100.0 * i, 300.0, -200.0};
    document_->addObject(standin::makeLight(light));
  }
  host_->sceneChanged(*document_);
  ASSERT_TRUE(host_->userChoose(*window_, control::kMode, 1));
  EXPECT_NE(status().find(" | Lichter: 8 (von 9, max. 8) | 1 Flächen-/Sonderlicht(er) als "
                          "Punktlicht genähert"),
            std::string::npos)
      << status();
  EXPECT_TRUE(status().starts_with("Partikel: ")) << status();
}

TEST_F(LivePreview, VolumetricWithoutLightsSaysSo) {
  ASSERT_TRUE(host_->userChoose(*window_, control::kMode, 1));
  EXPECT_NE(status().find(" | Lights: 0 - no C4D lights found, only ambient/emission"),
            std::string::npos)
      << status();
}

// A light whose colour overflows the renderer's floats stops the volumetric preview with its
// name and the reason, instead of the renderer's bare refusal; the glow look reads no lights.
TEST_F(LivePreview, ALightBeyondTheRenderersRangeIsNamed) {
  standin::LightSetup light;
  light.name = "Blazing sun";
  light.position = {0.0, 300.0, -200.0};
  light.intensity = 1e300;
  document_->addObject(standin::makeLight(light));
  host_->sceneChanged(*document_);
  ASSERT_TRUE(host_->userChoose(*window_, control::kMode, 1));
  EXPECT_EQ(status(), "ERROR: light \"Blazing sun\": colour x intensity is out of range");
  ASSERT_TRUE(host_->userChoose(*window_, control::kMode, 0));
  EXPECT_TRUE(status().starts_with("Particles: ")) << status();
}

// The largest areas a host can report: the bytes they need do not wrap around to a small number.
TEST(PreviewMemory, AreasBeyondAnyMemoryAreRefusedWithoutWrapping) {
  const auto refused = plugin::previewShortfall(INT32_MAX, INT32_MAX, 24);
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(refused->needed, UINT64_MAX);
  // 2^30 x 2^30 pixels at 16 bytes are exactly 2^64: wrapped, that would be 0.
  ASSERT_TRUE(plugin::previewShortfall(1 << 30, 1 << 30, 16).has_value());
  EXPECT_FALSE(plugin::previewShortfall(320, 180, 24).has_value());
}

TEST_F(LivePreview, ImageLargerThanTheAreaIsScaledDownAndCentred) {
  EXPECT_EQ(plugin::placeBitmap(640, 360, 640, 360).smooth, false);
  const plugin::Placement p = plugin::placeBitmap(400, 400, 800, 450);
  EXPECT_EQ(p.width, 400);
  EXPECT_EQ(p.height, 225);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 87);
  EXPECT_TRUE(p.smooth);
  const plugin::Placement small = plugin::placeBitmap(640, 360, 100, 50); // never enlarged
  EXPECT_EQ(small.width, 100);
  EXPECT_EQ(small.x, 270);
  EXPECT_EQ(small.y, 155);
  const plugin::Placement tiny = plugin::placeBitmap(3, 3, 4000, 10);
  EXPECT_EQ(tiny.width, 3);
  EXPECT_EQ(tiny.height, 1);                              // at least one pixel
  EXPECT_EQ(plugin::placeBitmap(0, 0, 50, 40).width, 50); // no area: unscaled
}

// renderAndSave belongs to the export; a dialog object of the test's own, on the same host,
// calls it as the export will.
class RenderAndSave : public PluginTest {
protected:
  void SetUp() override {
    start(Renderer::Real);
    ASSERT_EQ(ek::host::connect(&host_->api(), 0), ek::host::ConnectResult::Connected);
    dialog_ = std::make_unique<plugin::FlarionDialog>(plugin::Language::English);
    ASSERT_TRUE(dialog_->open());
    window_ = host_->dialog(kCommandId);
  }
  void TearDown() override {
    dialog_.reset();
    ek::host::disconnect();
    PluginTest::TearDown();
  }
  bool save(const fs::path &path, plugin::ImageFormat format, int32_t frame = 7) {
    const auto document = ek::host::Document::active();
    return dialog_->renderAndSave(*document, document->activeViewCamera(), 320, 180,
                                  plugin::DialogSettings{}, frame, standin::utf8FromPath(path),
                                  format);
  }
  static std::vector<uint8_t> bytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::unique_ptr<plugin::FlarionDialog> dialog_;
};

TEST_F(RenderAndSave, WritesEachFormatAndShowsTheImage) {
  const fs::path exr = scratch_.path() / "frame_0007.exr";
  const fs::path png16 = scratch_.path() / "frame_0007.png";
  const fs::path png8 = scratch_.path() / "frame8_0007.png";
  ASSERT_TRUE(save(exr, plugin::ImageFormat::Exr)) << status();
  ASSERT_TRUE(save(png16, plugin::ImageFormat::Png16)) << status();
  ASSERT_TRUE(save(png8, plugin::ImageFormat::Png8)) << status();
  const std::vector<uint8_t> e = bytes(exr), p16 = bytes(png16), p8 = bytes(png8);
  ASSERT_GT(e.size(), 8u);
  EXPECT_EQ(std::memcmp(e.data(), "\x76\x2f\x31\x01", 4), 0); // EXR magic number
  ASSERT_GT(p16.size(), 25u);
  EXPECT_EQ(std::memcmp(p16.data(), "\x89PNG", 4), 0);
  EXPECT_EQ(p16[24], 16); // bit depth of the header chunk
  EXPECT_EQ(p8[24], 8);
  EXPECT_GT(dialog_->particles().particleCount, 0);
}

TEST_F(RenderAndSave, UnwritablePathAndMissingCameraFailWithTheirMessages) {
  const fs::path path = scratch_.path() / "no such folder" / "frame_0007.png";
  EXPECT_FALSE(save(path, plugin::ImageFormat::Png8));
  EXPECT_EQ(status(), "ERROR: could not write file: " + standin::utf8FromPath(path));
  const auto document = ek::host::Document::active();
  EXPECT_FALSE(dialog_->renderAndSave(*document, std::nullopt, 320, 180, plugin::DialogSettings{},
                                      0, standin::utf8FromPath(path), plugin::ImageFormat::Exr));
  EXPECT_EQ(status(), "No camera found");
}

} // namespace
} // namespace flarion_test
