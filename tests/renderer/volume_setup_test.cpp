#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "frame_builder.h"
#include "volume_setup.h"

namespace {

using ek::Box;

constexpr float kDegrees = 3.1415927f / 180.0f;

struct VolumeScene {
  EKCamera camera{};
  EKRenderSettings settings{};
  Box padded{{-10, -5, -10}, {10, 5, 10}};

  VolumeScene() {
    camera.eye = {0, 0, 50};
    camera.up = {0, 1, 0};
    camera.fovY = 45;
    settings.width = 64;
    settings.height = 48;
    settings.samples = 4;
    settings.repopulation = 1;
  }

  uint64_t build(const std::vector<EKLight> &lights, VolumeConstants &vol, float density = 8) {
    vol = {};
    const ek::Frame frame = ek::buildFrame(camera, settings);
    return ek::buildVolumeConstants(camera, settings, frame, lights.data(), int(lights.size()),
                                    padded, density, vol);
  }
};

EKLight light(int type, bool shadows) {
  EKLight l{};
  l.type = type;
  l.position = {0, 30, 0};
  l.direction = {0, -2, 0};
  l.color[0] = l.color[1] = l.color[2] = 1;
  l.outerAngle = 60;
  l.innerAngle = 30;
  l.castsShadows = shadows;
  return l;
}

TEST(VolumeConstants, TailValuesAndDefaults) {
  VolumeScene s;
  s.settings.emission = 0.3f;
  s.settings.ambient[1] = 0.2f;
  s.settings.scattering = 2;
  s.settings.shadowMapSize = 8;
  s.settings.shadowSlices = 1;
  VolumeConstants vol;
  EXPECT_EQ(s.build({light(1, true)}, vol), 64u * 512u * 512u);
  EXPECT_EQ(vol.maps[0].size, 512) << "8 or less means 512";
  EXPECT_EQ(vol.maps[0].slices, 64) << "1 or less means 64";
  EXPECT_EQ(vol.camSlices, 32);
  EXPECT_EQ(vol.anisotropy, 0.95f);
  EXPECT_EQ(vol.lightSampleArea, 4.0f) << "density per particle over two copies";
  EXPECT_EQ(vol.camSampleArea, 1.0f) << "and over four samples";
  EXPECT_EQ(vol.emission, 0.3f);
  EXPECT_EQ(vol.ambient[1], 0.2f);
  EXPECT_EQ(vol.cameraPosition.z, 50.0f);
  // The camera looks down -z from z = 50 at a box reaching z = 10 .. -10.
  EXPECT_FLOAT_EQ(vol.camDepthStart, 40.0f);
  EXPECT_FLOAT_EQ(vol.camDepthScale, 32.0f / 20.0f);

  s.settings.scattering = -1;
  s.settings.shadowMapSize = 16;
  s.settings.cameraSlices = 7;
  s.build({light(1, true)}, vol, -3);
  EXPECT_EQ(vol.anisotropy, -0.95f);
  EXPECT_EQ(vol.maps[0].size, 16);
  EXPECT_EQ(vol.camSlices, 7);
  EXPECT_EQ(vol.lightSampleArea, 0.0f) << "negative density counts as none";

  s.settings.repopulation = INT32_MAX;
  s.build({}, vol);
  EXPECT_EQ(vol.lightSampleArea, 8.0f / 2147483648.0f) << "the density over 2^31 copies";
}

TEST(VolumeConstants, OnlyEightLightsAndFortyEightMaps) {
  VolumeScene s;
  VolumeConstants vol;
  const std::vector<EKLight> nine(9, light(0, true));
  EXPECT_EQ(s.build(nine, vol), 48ull * 64 * 512 * 512);
  EXPECT_EQ(s.build(std::vector<EKLight>(8, light(0, true)), vol), 805306368u);
  EXPECT_EQ(vol.lightCount, 8);
  EXPECT_EQ(vol.shadowMapCount, 48);
  EXPECT_EQ(vol.lights[7].firstMap, 42);
  EXPECT_EQ(vol.lights[7].mapCount, 6);
  EXPECT_EQ(vol.maps[47].offset, 47ull * 64 * 512 * 512);
}

TEST(VolumeConstants, MapsFollowTheLightsThatCastShadows) {
  VolumeScene s;
  VolumeConstants vol;
  const uint64_t floats =
      s.build({light(2, false), light(1, true), light(2, true), light(0, false)}, vol);
  EXPECT_EQ(floats, 2ull * 64 * 512 * 512);
  EXPECT_EQ(vol.lightCount, 4);
  EXPECT_EQ(vol.lights[0].mapCount, 0);
  EXPECT_EQ(vol.lights[1].firstMap, 0);
  EXPECT_EQ(vol.lights[1].mapCount, 1);
  EXPECT_EQ(vol.lights[2].firstMap, 1);
  EXPECT_EQ(vol.maps[0].ortho, 0);
  EXPECT_EQ(vol.maps[0].logDepth, 1);
  EXPECT_EQ(vol.maps[1].ortho, 1);
  EXPECT_EQ(vol.maps[1].logDepth, 0);
  EXPECT_EQ(vol.maps[1].offset, 64ull * 512 * 512);
  EXPECT_FLOAT_EQ(vol.lights[1].direction[1], -1.0f) << "directions are normalised";
  EXPECT_EQ(s.build({}, vol), 0u);
  EXPECT_EQ(vol.lightCount, 0);
}

TEST(VolumeConstants, SpotConeLimits) {
  VolumeScene s;
  VolumeConstants vol;
  EKLight wide = light(1, true);
  wide.outerAngle = 200;
  wide.innerAngle = 250;
  s.build({wide}, vol);
  EXPECT_NEAR(vol.lights[0].cosOuter, std::cos(87.5f * kDegrees), 1e-6f);
  EXPECT_FLOAT_EQ(vol.lights[0].cosInner, std::cos(100.0f * kDegrees))
      << "the inner angle is limited by the raw outer angle";
  EXPECT_FLOAT_EQ(vol.maps[0].scaleX, 1.0f / std::tan(1.4835298f));
  EKLight narrow = light(1, true);
  narrow.outerAngle = 40;
  narrow.innerAngle = 50;
  s.build({narrow}, vol);
  EXPECT_EQ(vol.lights[0].cosInner, vol.lights[0].cosOuter);
  EXPECT_FLOAT_EQ(vol.maps[0].scaleX, 1.0f / std::tan(20.0f * kDegrees * 1.05f));
}

TEST(VolumeConstants, LightFrames) {
  VolumeScene s;
  VolumeConstants vol;
  EKLight up = light(1, true);
  up.position = {0, -30, 0};
  up.direction = {0, 1, 0};
  s.build({up}, vol);
  const float *v = vol.maps[0].view;
  // Straight up uses the auxiliary (1, 0, 0): right = (1,0,0) x (0,1,0) = (0,0,1).
  EXPECT_FLOAT_EQ(v[2], 1.0f);
  EXPECT_FLOAT_EQ(v[9], 1.0f) << "forward is the light direction";
  EXPECT_FLOAT_EQ(v[11], 30.0f) << "-(forward . position)";
  EXPECT_FLOAT_EQ(vol.maps[0].depthStart, 25.0f) << "the box starts 25 units above the light";
  EXPECT_FLOAT_EQ(vol.maps[0].depthScale, 64.0f / std::log(35.0f / 25.0f));

  s.build({light(0, true)}, vol);
  const float faces[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  for (int f = 0; f < 6; ++f)
    for (int a = 0; a < 3; ++a)
      EXPECT_FLOAT_EQ(vol.maps[f].view[8 + a], faces[f][a]) << "face " << f;
  EXPECT_FLOAT_EQ(vol.maps[0].scaleX, 1.0f);

  EKLight sun = light(2, true);
  sun.direction = {0, 0, -1};
  s.build({sun}, vol);
  const ek::ShadowMap &ortho = vol.maps[0];
  EXPECT_FLOAT_EQ(ortho.scaleX, 1.0f / (10.0f * 1.01f));
  EXPECT_FLOAT_EQ(ortho.scaleY, 1.0f / (5.0f * 1.01f));
  EXPECT_FLOAT_EQ(ortho.depthStart, -10.0f);
  EXPECT_FLOAT_EQ(ortho.depthScale, 64.0f / 20.0f);
  EXPECT_FLOAT_EQ(ortho.texelArea, (2 * 10.1f / 512) * (2 * 5.05f / 512));
  EXPECT_EQ(ortho.nearClip, 0.0f);
}

TEST(VolumeConstants, SphericalCameraInsideTheCloud) {
  VolumeScene s;
  s.camera.projection = EK_PROJECTION_SPHERICAL;
  s.camera.eye = {1, 0, 2};
  VolumeConstants vol;
  s.build({}, vol);
  EXPECT_FLOAT_EQ(vol.camDepthStart, 0.01f);
  const float farthest = std::sqrt(11.0f * 11.0f + 5.0f * 5.0f + 12.0f * 12.0f);
  EXPECT_FLOAT_EQ(vol.camDepthScale, 32.0f / (farthest - 0.01f));
}

TEST(RobustBox, MeanAndTwoDeviationsClippedToThePaddedBox) {
  const Box padded{{-10, -10, -10}, {10, 10, 10}};
  // Values -1 and 1 on x (mean 0, deviation 1), all 3 on y, spread 0..8 on z.
  const double moments[6] = {0, 6, 8, 2, 18, 64};
  const Box box = ek::robustBox(moments, 2, padded);
  EXPECT_FLOAT_EQ(box.min.x, -2.0f);
  EXPECT_FLOAT_EQ(box.max.x, 2.0f);
  EXPECT_EQ(box.min.y, -10.0f) << "no spread keeps the padded range";
  EXPECT_FLOAT_EQ(box.min.z, -4.0f);
  EXPECT_EQ(box.max.z, 10.0f) << "clipped to the padded box";
  const Box single = ek::robustBox(moments, 1, padded);
  EXPECT_EQ(single.max.x, 10.0f);
}

} // namespace
