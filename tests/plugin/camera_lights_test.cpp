// The renderer's camera and light records built from host objects: lens, depth of field,
// spherical and stereo settings, stereo tiles, the projection's description and the light walk.
#include <cmath>

#include "connected_host.h"
#include "ekpreview/camera_view.h"
#include "ekpreview/scene_lights.h"
#include "host/document.h"
#include "host/host_ids.h"
#include "scene/builders.h"

namespace flarion_test {
namespace {

namespace host = ek::host;
namespace plugin = ek::plugin;
using plugin::DialogSettings;
using plugin::Language;
using standin::SceneObject;

class CameraAndLights : public ConnectedHost {
protected:
  void SetUp() override {
    ConnectedHost::SetUp();
    auto scene = std::make_unique<standin::Document>();
    document_ = &host_.addDocument(std::move(scene));
  }
  // Adds the object at the top level (or under the parent) and returns the host's view of it.
  host::Object add(std::unique_ptr<SceneObject> object, SceneObject *parent = nullptr) {
    SceneObject &o =
        parent ? parent->addChild(std::move(object)) : document_->addObject(std::move(object));
    host_.sceneChanged(*document_);
    return host::Object(reinterpret_cast<HostObject *>(o.handle));
  }
  host::Object camera(standin::CameraSetup lens) { return add(standin::makeCamera(lens)); }
  plugin::LightTable lights() {
    plugin::LightTable table;
    plugin::collectLights(host::Document::active()->firstObject(), table);
    return table;
  }

  standin::Document *document_ = nullptr;
};

standin::SphericalRig stereoRig(int32_t layout) {
  standin::SphericalRig s;
  s.stereoMode = host::camera::kStereoToeIn;
  s.stereoLayout = layout;
  s.zeroParallaxDistance = 300.0;
  s.topMergeMode = 2;
  s.topMergeAngle = 60.0;
  s.topMergeExponent = 2.0;
  return s;
}

TEST_F(CameraAndLights, LensGivesTheVerticalFieldAndFallsBackTo60Degrees) {
  standin::CameraSetup lens;
  lens.focalLength = 36.0;
  lens.apertureWidth = 36.0;
  const DialogSettings settings;
  const EKCamera wide = plugin::buildCamera(camera(lens), 1920, 1080, settings, {}, 0);
  EXPECT_NEAR(wide.fovY, 31.42, 0.005); // horizontal 2 atan(0.5) = 53.13 degrees
  lens.focalLength = 0.0;
  EXPECT_NEAR(plugin::buildCamera(camera(lens), 500, 500, settings, {}, 0).fovY, 60.0, 1e-4);
  const host::Object plain = add(std::make_unique<SceneObject>(standin::kTypeNull, "Null"));
  EXPECT_NEAR(plugin::buildCamera(plain, 500, 500, settings, {}, 0).fovY, 60.0, 1e-4);
  EXPECT_FALSE(plugin::readSphericalCamera(plain).spherical);
}

TEST_F(CameraAndLights, PositionsCrossIntoTheRendererWithZNegated) {
  standin::CameraSetup lens;
  lens.eye = {10.0, 20.0, -500.0};
  lens.target = {10.0, 20.0, 0.0};
  const EKCamera c = plugin::buildCamera(camera(lens), 640, 360, DialogSettings{}, {}, 0);
  EXPECT_FLOAT_EQ(c.eye.z, 500.0f);
  EXPECT_FLOAT_EQ(c.target.z, 499.0f); // one unit along the camera's z axis, towards the origin
  EXPECT_FLOAT_EQ(c.target.x, 10.0f);
  EXPECT_FLOAT_EQ(c.up.y, 1.0f);
  EXPECT_EQ(c.projection, EK_PROJECTION_PERSPECTIVE);
}

TEST_F(CameraAndLights, DepthOfFieldTurnsTheFNumberIntoALensRadius) {
  standin::CameraSetup lens;
  const host::Object cam = camera(lens);
  DialogSettings settings;
  settings.focus = 720.0;
  settings.aperture = 2.8;
  EXPECT_EQ(plugin::buildCamera(cam, 640, 360, settings, {}, 0).aperture, 0.0f); // off
  settings.depthOfField = true;
  EKCamera c = plugin::buildCamera(cam, 640, 360, settings, {}, 0);
  EXPECT_NEAR(c.aperture, 0.642857, 1e-6);
  EXPECT_EQ(c.focusDistance, 720.0f);
  settings.aperture = 0.0; // f/0 keeps the focus but has no lens
  c = plugin::buildCamera(cam, 640, 360, settings, {}, 0);
  EXPECT_EQ(c.aperture, 0.0f);
  EXPECT_EQ(c.focusDistance, 720.0f);
}

TEST_F(CameraAndLights, SphericalStereoSettingsReachOnlyTheEyes) {
  standin::CameraSetup lens;
  standin::SphericalRig rig = stereoRig(host::camera::kLayoutSideBySide);
  rig.fullRange = false;
  rig.longitudeMin = -90.0;
  rig.latitudeMax = 45.0;
  lens.spherical = rig;
  const host::Object cam = camera(lens);
  const plugin::SphericalCamera s = plugin::readSphericalCamera(cam);
  ASSERT_TRUE(s.spherical && s.stereo && s.toeIn);
  EXPECT_NEAR(s.lonMin, -90.0, 1e-9);
  EXPECT_NEAR(s.latMax, 45.0, 1e-9);

  const EKCamera single = plugin::buildCamera(cam, 800, 400, DialogSettings{}, s, 0);
  EXPECT_EQ(single.projection, EK_PROJECTION_SPHERICAL);
  EXPECT_NEAR(single.lonMin, -90.0f, 1e-4);
  EXPECT_EQ(single.eyeOffset, 0.0f);
  EXPECT_EQ(single.topMergeExponent, 0.0f); // stays 0 without an eye
  const EKCamera left = plugin::buildCamera(cam, 400, 400, DialogSettings{}, s, -1);
  EXPECT_FLOAT_EQ(left.eyeOffset, -3.25f);
  EXPECT_FLOAT_EQ(left.zeroParallaxDistance, 300.0f);
  EXPECT_EQ(left.topMergeMode, 2);
  EXPECT_NEAR(left.topMergeAngle, 60.0f, 1e-4);
  EXPECT_FLOAT_EQ(left.topMergeExponent, 2.0f);
  EXPECT_FLOAT_EQ(left.bottomMergeExponent, 1.0f);
  plugin::SphericalCamera parallel = s;
  parallel.toeIn = false; // parallel eyes have no zero-parallax distance
  EXPECT_EQ(plugin::buildCamera(cam, 400, 400, DialogSettings{}, parallel, 1).zeroParallaxDistance,
            0.0f);
}

TEST_F(CameraAndLights, StereoLayoutsSplitTheImage) {
  plugin::SphericalCamera s;
  auto tiles = [&](int32_t layout, int32_t w, int32_t h) {
    s.stereoLayout = layout;
    const plugin::StereoTiles t = plugin::stereoTiles(s, w, h);
    std::string text;
    for (int32_t i = 0; i < t.count; ++i) {
      const plugin::StereoTile &k = t.tiles[i];
      text += std::to_string(k.eye) + ":" + std::to_string(k.x) + "," + std::to_string(k.y) + "," +
              std::to_string(k.width) + "x" + std::to_string(k.height) + " ";
    }
    return text;
  };
  EXPECT_EQ(tiles(1, 1001, 300), "0:0,0,1001x300 "); // not spherical
  s.spherical = true;
  EXPECT_EQ(tiles(1, 1001, 300), "0:0,0,1001x300 "); // mono
  s.stereo = true;
  EXPECT_EQ(tiles(1, 1001, 300), "-1:0,0,500x300 1:500,0,501x300 ");
  EXPECT_EQ(tiles(2, 1001, 300), "-1:0,0,1001x300 ");
  EXPECT_EQ(tiles(3, 1001, 300), "1:0,0,1001x300 ");
  EXPECT_EQ(tiles(0, 64, 33), "-1:0,0,64x16 1:0,16,64x17 ");
  EXPECT_EQ(tiles(7, 64, 1), "-1:0,0,64x0 1:0,0,64x1 ");
}

TEST_F(CameraAndLights, ProjectionDescriptionsInBothLanguages) {
  plugin::SphericalCamera s;
  s.spherical = true;
  EXPECT_EQ(plugin::describeProjection(s, Language::English), " | Spherical mono");
  s.stereo = true;
  s.toeIn = true;
  s.stereoLayout = 1;
  s.cubic = true;
  EXPECT_EQ(plugin::describeProjection(s, Language::English),
            " | Spherical stereo (toe-in, side by side) - cubic mapping not supported, using "
            "lat-long");
  s.toeIn = false;
  s.cubic = false;
  s.stereoLayout = 5;
  EXPECT_EQ(plugin::describeProjection(s, Language::German),
            " | Sphärisch Stereo (parallel, oben/unten)");
  s.stereoLayout = 3;
  EXPECT_EQ(plugin::describeProjection(s, Language::German),
            " | Sphärisch Stereo (parallel, nur rechts)");
}

TEST_F(CameraAndLights, LightsAreWalkedDepthFirstAndTheNinthIsOnlyCounted) {
  // A null holding four lights, then six lights beside it: ten in all, one of them switched off.
  auto group = std::make_unique<SceneObject>(standin::kTypeNull, "Group");
  SceneObject *parent = group.get();
  add(std::move(group));
  for (int i = 0; i < 4; ++i) {
    standin::LightSetup l;
    l.position = {double(i), 0.0, 0.0};
    add(standin::makeLight(l), parent);
  }
  for (int i = 4; i < 10; ++i) {
    standin::LightSetup l;
    l.position = {double(i), 0.0, 0.0};
    l.switchedOn = i != 5;
    add(standin::makeLight(l));
  }
  const plugin::LightTable t = lights();
  EXPECT_EQ(t.used, 8);
  EXPECT_EQ(t.found, 9);
  const float expected[8] = {0, 1, 2, 3, 4, 6, 7, 8};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(t.lights[i].position.x, expected[i]) << "light " << i;
  }
}

TEST_F(CameraAndLights, LightTypesFalloffsAndParametersMapToTheRenderer) {
  namespace lit = host::light;
  standin::LightSetup spot;
  spot.lightType = lit::kTypeSquareParallelSpot;
  spot.position = {0.0, 100.0, -50.0};
  spot.target = {0.0, 100.0, 50.0};
  spot.color = {1.0, 0.5, 0.25};
  spot.intensity = 2.0;
  spot.outerAngle = 40.0;
  spot.innerAngle = 20.0;
  spot.falloff = lit::kFalloffLinear;
  spot.falloffRadius = 900.0;
  spot.falloffInner = 100.0;
  spot.shadows = true;
  add(standin::makeLight(spot));
  standin::LightSetup area;
  area.lightType = lit::kTypeArea;
  area.falloff = lit::kFalloffStep;
  area.enabled.reset(); // no enable parameter at all: used
  add(standin::makeLight(area));
  standin::LightSetup sun;
  sun.lightType = lit::kTypeParallel;
  sun.falloff = 42;
  add(standin::makeLight(sun));

  const plugin::LightTable t = lights();
  ASSERT_EQ(t.used, 3);
  EXPECT_EQ(t.approximated, 1);
  const EKLight &s = t.lights[0];
  EXPECT_EQ(s.type, 1);
  EXPECT_FLOAT_EQ(s.position.z, 50.0f);
  EXPECT_NEAR(s.direction.z, -1.0f, 1e-6);
  EXPECT_FLOAT_EQ(s.color[0], 2.0f);
  EXPECT_FLOAT_EQ(s.color[2], 0.5f);
  EXPECT_NEAR(s.outerAngle, 40.0f, 1e-4);
  EXPECT_NEAR(s.innerAngle, 20.0f, 1e-4);
  EXPECT_EQ(s.falloff, 5);
  EXPECT_EQ(s.falloffRadius, 900.0f);
  EXPECT_EQ(s.falloffInner, 100.0f);
  EXPECT_EQ(s.castsShadows, 1);
  EXPECT_EQ(t.lights[1].type, 0); // area light as a point light
  EXPECT_EQ(t.lights[1].falloff, 6);
  EXPECT_NEAR(t.lights[1].outerAngle, 30.0f, 1e-4);          // the default cone
  EXPECT_EQ(t.lights[1].innerAngle, t.lights[1].outerAngle); // without the inner-angle switch
  EXPECT_EQ(t.lights[2].type, 2);
  EXPECT_EQ(t.lights[2].falloff, 0);
}

// Light is never subtracted: negative colours and intensities give black, not negative pixels.
// A light the renderer cannot take (colour x intensity or a position beyond the float range) is
// named with what is wrong, in both languages; the lights after it are still collected.
TEST_F(CameraAndLights, NegativeColoursAreBlackAndLightsBeyondFloatsAreNamed) {
  standin::LightSetup dim;
  dim.name = "Dim";
  dim.color = {-1.0, 0.5, 2.0};
  add(standin::makeLight(dim));
  standin::LightSetup negative;
  negative.name = "Negative";
  negative.intensity = -4.0;
  add(standin::makeLight(negative));
  standin::LightSetup blazing;
  blazing.name = "Blazing sun";
  blazing.intensity = 1e300;
  add(standin::makeLight(blazing));
  standin::LightSetup far;
  far.name = "Far";
  far.position = {0.0, 0.0, 1e39};
  add(standin::makeLight(far));
  standin::LightSetup last;
  last.name = "Last";
  last.position = {5.0, 0.0, 0.0};
  add(standin::makeLight(last));

  const plugin::LightTable t = lights();
  EXPECT_EQ(t.found, 5);
  ASSERT_EQ(t.used, 3);
  EXPECT_EQ(t.lights[0].color[0], 0.0f);
  EXPECT_EQ(t.lights[0].color[1], 0.5f);
  EXPECT_EQ(t.lights[0].color[2], 2.0f);
  for (const float c : t.lights[1].color) {
    EXPECT_EQ(c, 0.0f);
  }
  EXPECT_EQ(t.lights[2].position.x, 5.0f);
  ASSERT_TRUE(t.refused.has_value());
  EXPECT_EQ(plugin::refusedLightMessage(*t.refused, Language::English),
            "light \"Blazing sun\": colour x intensity is out of range");
  EXPECT_EQ(plugin::refusedLightMessage(*t.refused, Language::German),
            "Licht \"Blazing sun\": Farbe x Intensität außerhalb des darstellbaren Bereichs");
  document_->objects[2]->switchedOff = true;
  host_.sceneChanged(*document_);
  const plugin::LightTable second = lights();
  ASSERT_TRUE(second.refused.has_value());
  EXPECT_EQ(plugin::refusedLightMessage(*second.refused, Language::English),
            "light \"Far\": position is out of range");
}

TEST_F(CameraAndLights, EnableParameterKindsAndOddValues) {
  namespace lit = host::light;
  auto lightWith = [&](int32_t id, standin::ParameterValue value, double x) {
    standin::LightSetup lens;
    lens.position = {x, 0.0, 0.0};
    auto light = standin::makeLight(lens);
    light->parameters[id] = value;
    return add(std::move(light));
  };
  lightWith(lit::kEnabled, 0.4, 1.0);                    // real with integer part 0: off
  lightWith(lit::kEnabled, int64_t(0), 2.0);             // integer 0: off
  lightWith(lit::kEnabled, 1.7, 3.0);                    // used
  lightWith(lit::kEnabled, standin::Vec3{0, 0, 0}, 4.0); // another kind: used
  lightWith(lit::kType, int64_t(-3), 5.0);               // unknown type: point, approximated
  lightWith(lit::kIntensity, int64_t(3), 6.0);           // an integer intensity is a real
  lightWith(lit::kFalloff, 10.0, 7.0);                   // a real code is truncated
  document_->objects.back()->matrix.axisZ = {0.0, 0.0, 0.0};

  const plugin::LightTable t = lights();
  ASSERT_EQ(t.used, 5);
  EXPECT_EQ(t.found, 5);
  EXPECT_EQ(t.lights[0].position.x, 3.0f);
  EXPECT_EQ(t.lights[1].position.x, 4.0f);
  EXPECT_EQ(t.lights[2].type, 0);
  EXPECT_EQ(t.approximated, 1);
  EXPECT_EQ(t.lights[3].color[1], 3.0f);
  EXPECT_EQ(t.lights[4].falloff, 1);
  EXPECT_EQ(t.lights[4].direction.x, 0.0f); // a zero-length z axis keeps its zero direction
  EXPECT_EQ(t.lights[4].direction.y, 0.0f);
  EXPECT_EQ(t.lights[4].direction.z, 0.0f);
}

} // namespace
} // namespace flarion_test
