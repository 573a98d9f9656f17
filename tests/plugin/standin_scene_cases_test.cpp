// Scenes for the preview's edge cases, read from scene files and answered through the operation
// table: a document without a frame rate, real render sizes, a view through an object that is no
// camera, every form of a light's enable switch, listed particles and a broken particle system.
#include <cmath>
#include <limits>

#include "connected_host.h"
#include "host/host_ids.h"
#include "scene/scene_json.h"

namespace flarion_test {
namespace {

namespace ids = ek::host;

std::string errorOf(const char *json) {
  try {
    standin::parseScene(json, "scene.json");
  } catch (const standin::SceneError &e) {
    return e.what();
  }
  return "no error";
}

class SceneCases : public ConnectedHost {
protected:
  standin::Document &load(const char *json) {
    document_ = &host_.addDocument(standin::parseScene(json, "scene.json"));
    return *document_;
  }
  HostDocument *doc() const { return api().activeDocument(api().instance); }
  HostObject *master() const {
    api().particleLibraryLoad(api().instance, ids::library::kThinkingParticles, 0);
    return api().documentFindSceneHook(api().instance, doc(), ids::library::kThinkingParticles);
  }
  const HostApi &api() const { return host_.api(); }

  standin::Document *document_ = nullptr;
};

TEST_F(SceneCases, ADocumentWithoutFrameRateReportsZeroAndRunsAt30) {
  standin::Document &d =
      load(R"({"fps": 0, "frame": 10, "particles": {"emitters": [{"rate": 30}]}})");
  EXPECT_EQ(api().documentFps(api().instance, doc()), 0);
  HostValue value{};
  ASSERT_EQ(api().documentGetParameter(api().instance, doc(), ids::document::kFps, &value), 1);
  EXPECT_EQ(value.kind, HOST_VALUE_INT);
  EXPECT_EQ(value.integer, 0);
  ASSERT_EQ(api().documentGetParameter(api().instance, doc(), ids::document::kTime, &value), 1);
  EXPECT_EQ(value.timeNumerator * standin::kFallbackFps, 10 * value.timeDenominator);
  EXPECT_EQ(api().particleCount(api().instance, master()), 11); // one birth on each of frames 0..10
  host_.setFrame(d, 20);
  EXPECT_EQ(api().particleCount(api().instance, master()), 21);
  EXPECT_EQ(errorOf(R"({"fps": -1})"), "scene.json: fps cannot be negative");
}

TEST_F(SceneCases, RenderSizesStayWholeOrReal) {
  load(R"({"render": {"width": 1919.6, "height": 1080}})");
  HostRenderData *render = api().documentRenderData(api().instance, doc());
  HostValue width{}, height{};
  ASSERT_EQ(api().renderDataGetParameter(api().instance, render, ids::render_data::kWidth, &width),
            1);
  ASSERT_EQ(
      api().renderDataGetParameter(api().instance, render, ids::render_data::kHeight, &height), 1);
  EXPECT_EQ(width.kind, HOST_VALUE_REAL);
  EXPECT_DOUBLE_EQ(width.real, 1919.6);
  EXPECT_EQ(height.kind, HOST_VALUE_INT);
  EXPECT_EQ(height.integer, 1080);
}

TEST_F(SceneCases, TheViewMayLookThroughAnyObjectTheFirstOfItsName) {
  load(R"({"activeCamera": "Spot", "objects": [
            {"type": "null", "name": "Rig", "children": [{"type": "light", "name": "Spot"}]},
            {"type": "camera", "name": "Spot"}]})");
  HostView *view = api().documentActiveView(api().instance, doc());
  HostObject *seen = api().viewSceneCamera(api().instance, view, doc());
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(api().objectType(api().instance, seen), ids::object::kTypeLight);
  EXPECT_EQ(errorOf(R"({"activeCamera": "Nobody", "objects": [{"type": "null"}]})"),
            "scene.json: activeCamera \"Nobody\" names no object of the scene");
}

TEST_F(SceneCases, LightEnableSwitchIsWholeRealOrMissing) {
  load(R"({"objects": [{"type": "light", "name": "Default"},
                        {"type": "light", "name": "Off", "enabled": false},
                        {"type": "light", "name": "Faint", "enabled": 0.4},
                        {"type": "light", "name": "Bare", "enabled": "missing"}]})");
  HostObject *light = api().documentFirstObject(api().instance, doc());
  std::vector<HostValue> values;
  std::vector<int32_t> found;
  for (; light; light = api().objectNext(api().instance, light)) {
    HostValue value{};
    found.push_back(api().objectGetParameter(api().instance, light, ids::light::kEnabled, &value));
    values.push_back(value);
  }
  ASSERT_EQ(found, (std::vector<int32_t>{1, 1, 1, 0}));
  EXPECT_EQ(values[0].kind, HOST_VALUE_INT);
  EXPECT_EQ(values[0].integer, 1);
  EXPECT_EQ(values[1].kind, HOST_VALUE_INT);
  EXPECT_EQ(values[1].integer, 0);
  EXPECT_EQ(values[2].kind, HOST_VALUE_REAL);
  EXPECT_DOUBLE_EQ(values[2].real, 0.4);
  EXPECT_EQ(errorOf(R"({"objects": [{"type": "light", "enabled": "yes"}]})"),
            "scene.json.objects[0]: enabled must be true, false, a number or \"missing\"");
}

TEST_F(SceneCases, CamerasTakeAMatrixAProjectionAndSwitchedOffSphericalSettings) {
  namespace cam = ids::camera;
  standin::Document &d = load(R"({"activeCamera": "Dome", "objects": [{
      "type": "camera", "name": "Dome", "projection": "spherical",
      "matrix": {"offset": [1, 2, 3], "z": [0, 0, -1]},
      "spherical": {"enabled": false, "longitude": [-90, 90], "latitude": [-45, 45],
                    "stereo": "parallel", "bottomMerge": {"mode": 2, "exponent": 0.5}}}]})");
  const standin::SceneObject &c = *d.activeCamera();
  const auto integer = [&](int32_t id) { return std::get<int64_t>(c.parameters.at(id)); };
  const auto real = [&](int32_t id) { return std::get<double>(c.parameters.at(id)); };
  const double degree = 3.14159265358979323846 / 180.0;
  EXPECT_EQ(integer(cam::kProjection), cam::kProjectionSpherical);
  EXPECT_EQ(integer(cam::kSphericalEnabled), 0);
  EXPECT_DOUBLE_EQ(real(cam::kLongitudeMin), -90 * degree);
  EXPECT_DOUBLE_EQ(real(cam::kLatitudeMax), 45 * degree);
  EXPECT_EQ(integer(cam::kStereoMode), cam::kStereoParallel);
  EXPECT_DOUBLE_EQ(real(cam::kBottomMergeExponent), 0.5);
  EXPECT_EQ(c.matrix.offset.y, 2.0);
  EXPECT_EQ(c.matrix.axisZ.z, -1.0);
  EXPECT_EQ(c.matrix.axisX.x, 1.0); // left out: the unit axis
  EXPECT_TRUE(errorOf(R"({"objects": [{"type": "camera", "eye": [0, 0, 0], "matrix": {}}]})")
                  .ends_with("give either matrix or eye, target and up"));
}

TEST_F(SceneCases, ListedParticlesComeFirstAndNeverMove) {
  standin::Document &d = load(R"({"frame": 3, "particles": {
      "list": [{"position": [1, 2, 3], "velocity": [9, 9, 9], "color": [2.5, -1, 0.5]},
               {"position": [4, 5, 6], "alive": false}],
      "emitters": [{"rate": 30, "velocity": [0, 10, 0]}]}})");
  HostObject *m = master();
  for (int32_t frame : {3, 12, 1}) { // going back starts over, with the list again in front
    host_.setFrame(d, frame);
    ASSERT_EQ(api().particleCount(api().instance, m), 2 + frame + 1) << "frame " << frame;
    double position[3] = {};
    ASSERT_EQ(api().particlePosition(api().instance, m, 0, position), 1);
    EXPECT_EQ(position[2], 3.0);
    EXPECT_EQ(api().particleAlive(api().instance, m, 0), 1);
    // A dead particle keeps its slot and its values.
    EXPECT_EQ(api().particleAlive(api().instance, m, 1), 0);
    ASSERT_EQ(api().particlePosition(api().instance, m, 1, position), 1);
    EXPECT_EQ(position[0], 4.0);
    // The emitted ones follow, the first born at the emitter.
    ASSERT_EQ(api().particleVelocity(api().instance, m, 2, position), 1);
    EXPECT_EQ(position[1], 10.0);
  }
  float color[3] = {};
  ASSERT_EQ(api().particleColor(api().instance, m, 0, color), 1);
  EXPECT_EQ(color[0], 2.5f);
  EXPECT_EQ(color[1], -1.0f);
}

TEST_F(SceneCases, ListedParticlesFromCodeMayHoldValuesThatAreNotFinite) {
  auto scene = standin::parseScene("{}", "scene.json");
  standin::Particle p;
  p.position = {std::numeric_limits<double>::quiet_NaN(), 0.0,
                std::numeric_limits<double>::infinity()};
  scene->particles.fixed.push_back(p);
  document_ = &host_.addDocument(std::move(scene));
  double position[3] = {};
  ASSERT_EQ(api().particlePosition(api().instance, master(), 0, position), 1);
  EXPECT_TRUE(std::isnan(position[0]));
  EXPECT_TRUE(std::isinf(position[2]));
}

TEST_F(SceneCases, ABrokenParticleSystemFailsQueriesButSaysAlive) {
  standin::Document &d = load(R"({"particles": {"list": [{}, {}, {"alive": false}]}})");
  d.particleQueriesFailFrom = 1;
  d.extraReportedParticles = 2;
  HostObject *m = master();
  ASSERT_EQ(api().particleCount(api().instance, m), 5);
  double xyz[3] = {7.0, 7.0, 7.0};
  EXPECT_EQ(api().particlePosition(api().instance, m, 0, xyz), 1);
  for (int32_t index : {1, 2, 4}) { // failing from index 1 on, and the two slots that do not exist
    EXPECT_EQ(api().particleAlive(api().instance, m, index), 1) << index;
    xyz[0] = 7.0;
    EXPECT_EQ(api().particlePosition(api().instance, m, index, xyz), 0) << index;
    EXPECT_EQ(xyz[0], 0.0);
    EXPECT_EQ(api().particleVelocity(api().instance, m, index, xyz), 0) << index;
    float rgb[3] = {};
    EXPECT_EQ(api().particleColor(api().instance, m, index, rgb), 0) << index;
  }
  // Clones of the document are just as broken. None of this is the plug-in's misuse.
  EXPECT_EQ(d.clone()->extraReportedParticles, 2);
}

} // namespace
} // namespace flarion_test
