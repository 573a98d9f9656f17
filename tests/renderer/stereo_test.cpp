// Omni-directional stereo worked out by hand. The rig: eyes 1 unit from the vertical axis
// (eyeOffset +1 is the right eye, -1 the left), zero parallax at sqrt(3), so the toe-in is
// a = atan(1 / sqrt 3) = 30 degrees. The eye's ray passes the axis at h = P sin a + d cos a
// (P the pivot offset), a point at horizontal distance r on the view axis lands at longitude
// -/+ asin(h / r) +/- a, and its horizontal distance becomes sqrt(r^2 - h^2) + d sin a - P cos a.
// The image spans 360 degrees in 361 columns and 180 in 181 rows, so longitude L lands at
// x = (L + 180) x 361 / 360 and latitude B at y = (90 - B) x 181 / 180; straight ahead is x 180.5.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "backend_fixture.h"
#include "frame_builder.h"
#include "kernels/projection.h"
#include "scene_records.h"

namespace {

constexpr float kSqrt3 = 1.7320508f;

EKCamera stereoCamera(float eyeOffset, float pivot) {
  EKCamera camera = ek::test::lookingAt({0, 0, 0}, {0, 0, -1}, 90);
  camera.projection = EK_PROJECTION_SPHERICAL;
  camera.lonMin = -180;
  camera.lonMax = 180;
  camera.latMin = -90;
  camera.latMax = 90;
  camera.eyeOffset = eyeOffset;
  camera.zeroParallaxDistance = kSqrt3;
  camera.stereoPivotOffset = pivot;
  return camera;
}

EKRenderSettings panorama() { return ek::test::imageSettings(361, 181); }

struct Pixel {
  int x, y;
  bool operator==(const Pixel &o) const { return x == o.x && y == o.y; }
};
constexpr Pixel kCulled{-1, -1};

std::ostream &operator<<(std::ostream &out, const Pixel &p) {
  return out << "(" << p.x << ", " << p.y << ")";
}

Pixel project(const EKCamera &camera, EKV3 point) {
  const ek::Frame frame = ek::buildFrame(camera, panorama());
  uint32_t state = 0;
  ek::PixelHit hit{};
  ek::CameraPoint c{};
  return ek::projectSample(frame, point, state, hit, c) ? Pixel{hit.ix, hit.iy} : kCulled;
}

TEST(Stereo, ZeroParallaxNearAndFarWithoutPivot) {
  const EKCamera right = stereoCamera(1, 0), left = stereoCamera(-1, 0);
  // h = cos 30 = 0.866. At r = sqrt 3: asin(0.866 / 1.732) = 30 cancels the toe-in: longitude 0
  // for both eyes. At r = 1: asin(0.866) = 60, so -30 (x 150.42) and +30 (x 210.58). At r = 3:
  // asin(0.2887) = 16.78, so +13.22 (x 193.76) and -13.22 (x 167.24): beyond the zero-parallax
  // distance the right eye sees a point further right.
  EXPECT_EQ(project(right, {0, 0, -kSqrt3}), (Pixel{180, 90}));
  EXPECT_EQ(project(left, {0, 0, -kSqrt3}), (Pixel{180, 90}));
  EXPECT_EQ(project(right, {0, 0, -1}), (Pixel{150, 90}));
  EXPECT_EQ(project(left, {0, 0, -1}), (Pixel{210, 90}));
  EXPECT_EQ(project(right, {0, 0, -3}), (Pixel{193, 90}));
  EXPECT_EQ(project(left, {0, 0, -3}), (Pixel{167, 90}));
  // Two units up at r = sqrt 3: the distance along the eye's ray is sqrt(3 - 0.75) + sin 30 = 2,
  // so latitude atan(2 / 2) = 45 (y 45.25) where the axis would see 49.1 (y 40.9).
  EXPECT_EQ(project(right, {0, 2, -kSqrt3}), (Pixel{180, 45}));
  EXPECT_EQ(project(left, {0, 2, -kSqrt3}), (Pixel{180, 45}));
}

TEST(Stereo, PivotOffsetMovesTheZeroParallaxPointOut) {
  const EKCamera right = stereoCamera(1, 0.5f), left = stereoCamera(-1, 0.5f);
  // h = 0.5 sin 30 + cos 30 = 1.116 = (sqrt 3 + 0.5) sin 30: the eyes now converge at
  // r = sqrt 3 + 0.5 = 2.232, where the distance along the ray is 2.232 cos 30 + 0.5 - 0.5 cos 30
  // = 2 again: one unit up lies at latitude atan(1 / 2) = 26.57 (y 63.79) for both eyes.
  EXPECT_EQ(project(right, {0, 1, -(kSqrt3 + 0.5f)}), (Pixel{180, 63}));
  EXPECT_EQ(project(left, {0, 1, -(kSqrt3 + 0.5f)}), (Pixel{180, 63}));
  // At r = sqrt 3 the point is now nearer than convergence: asin(1.116 / 1.732) = 40.12, so
  // -10.12 (x 170.36) and +10.12 (x 190.64). At r = 3: asin(0.372) = 21.84, so +8.16 (x 188.68)
  // and -8.16 (x 172.32). At r = 1 < h the point lies inside the eye circle.
  EXPECT_EQ(project(right, {0, 0, -kSqrt3}), (Pixel{170, 90}));
  EXPECT_EQ(project(left, {0, 0, -kSqrt3}), (Pixel{190, 90}));
  EXPECT_EQ(project(right, {0, 0, -3}), (Pixel{188, 90}));
  EXPECT_EQ(project(left, {0, 0, -3}), (Pixel{172, 90}));
  EXPECT_EQ(project(right, {0, 0, -1}), kCulled);
  EXPECT_EQ(project(left, {0, 0, -1}), kCulled);
}

// The same rig through ekRender: each eye's render lights the hand-worked columns.
using StereoRender = ek::test::BackendTest;

std::vector<Pixel> litPixels(EKContext *context, const EKCamera &camera) {
  const EKRenderSettings settings = panorama();
  std::vector<float> image(size_t(settings.width) * settings.height * 4);
  EXPECT_EQ(ekRender(context, &camera, &settings, nullptr, 0, nullptr, image.data(), nullptr), 0)
      << ekLastError(context);
  std::vector<Pixel> lit;
  for (int y = 0; y < settings.height; ++y)
    for (int x = 0; x < settings.width; ++x)
      if (image[(size_t(y) * settings.width + x) * 4 + 3] > 0)
        lit.push_back({x, y});
  return lit;
}

TEST_P(StereoRender, EachEyePutsTheParticlesInItsColumns) {
  // Near (r = 1), at zero parallax (r = sqrt 3, raised 2 units) and far (r = 3), as above.
  const std::vector<EKV3> points = {{0, 0, -1}, {0, 2, -kSqrt3}, {0, 0, -3}};
  ASSERT_EQ(ekReserve(context, points.size(), 0), 0);
  ASSERT_EQ(ekUpload(context, points.data(), nullptr, nullptr, points.size(), 0), 0);
  EXPECT_EQ(litPixels(context, stereoCamera(1, 0)),
            (std::vector<Pixel>{{180, 45}, {150, 90}, {193, 90}}));
  EXPECT_EQ(litPixels(context, stereoCamera(-1, 0)),
            (std::vector<Pixel>{{180, 45}, {167, 90}, {210, 90}}));
}

EK_INSTANTIATE_FOR_BACKENDS(StereoRender);

} // namespace
