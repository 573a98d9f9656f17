// A slab of known density seen face-on, with the volumetric look's optical depth worked out by
// hand.
//
// The slab: 8 x 8 x 8 particles one unit apart, centred on the origin (coordinates -3.5 .. 3.5).
// Its box, padded by 0.001, is 7.002 wide on every axis, and a uniform lattice's mean plus or minus
// two deviations (4.58) reaches beyond it, so the density is spread over that box: each particle
// blocks sigma = (3 x 7.002^2) / 2 x density / 512 units^2.
//
// The camera: 1000 units away on +z, looking at the origin, 8 x 8 pixels whose footprint is one
// unit square at depth 1000 (tan(fov / 2) = 4 / 1000), so each pixel's ray meets one particle of
// each of the 8 layers, at depths d_k = 996.5 + k. There the footprint is (d_k / 1000)^2 (the
// slant of the outer rays changes it by less than 2e-5), so layer k blocks
// w_k = sigma (1000 / d_k)^2 of the pixel and the pixel's optical depth is tau = sum of w_k,
// 8 sigma = 1.5 density (7.002 / 8)^2 up to 2e-5.
//
// Alpha is 1 - exp(-tau). Light: with ambient 1 and no lights a white particle of layer k sends
// exp(-(w_0 + ... + w_(k-1) + w_k / 2)) (1 - exp(-w_k)): the light of its own blob, dimmed by
// the layers in front and half its own. With 32 camera slices over the 7.002 deep box each layer
// has its own slices, so the depth map holds these sums without blur.
//
// Tolerance: the slant (2e-5) and single-precision sums and exponentials (1e-6) stay far below
// 1e-4 relative; a wrong density scale, depth, footprint or transmittance is off by percents.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "backend_fixture.h"

namespace {

using VolumeReference = ek::test::BackendTest;

constexpr int kSide = 8;
constexpr double kDistance = 1000;
constexpr double kBoxWidth = 7.002;
constexpr double kTolerance = 1e-4;

struct Slab {
  std::vector<EKV3> positions;
  std::vector<uint8_t> colors;
};

// Even columns are white throughout; odd columns are black but for the back layer, whose light
// then reaches the camera only through the seven layers in front.
Slab slab() {
  Slab s;
  for (int layer = 0; layer < kSide; ++layer)
    for (int row = 0; row < kSide; ++row)
      for (int column = 0; column < kSide; ++column) {
        s.positions.push_back({column - 3.5f, row - 3.5f, 3.5f - layer}); // layer 0 nearest
        const bool white = column % 2 == 0 || layer == kSide - 1;
        const uint8_t value = white ? 255 : 0;
        s.colors.insert(s.colors.end(), {value, value, value, 255});
      }
  return s;
}

EKCamera farCamera() {
  EKCamera camera{};
  camera.eye = {0, 0, float(kDistance)};
  camera.up = {0, 1, 0};
  camera.fovY = float(2 * std::atan(4 / kDistance) * 180 / 3.141592653589793);
  return camera;
}

EKRenderSettings slabSettings(float density) {
  EKRenderSettings s{};
  s.width = s.height = kSide;
  s.exposure = 1;
  s.samples = 1;
  s.mode = EK_MODE_VOLUMETRIC;
  s.density = density;
  s.ambient[0] = s.ambient[1] = s.ambient[2] = 1;
  s.cameraSlices = 32;
  return s;
}

// The share of a pixel each layer blocks, front first.
std::vector<double> layerDepths(float density) {
  const double sigma = 1.5 * kBoxWidth * kBoxWidth * density / (kSide * kSide * kSide);
  std::vector<double> w;
  for (int k = 0; k < kSide; ++k)
    w.push_back(sigma * std::pow(kDistance / (kDistance - 3.5 + k), 2));
  return w;
}

TEST_P(VolumeReference, SlabAlphaAndTransmittedLightFollowItsOpticalDepth) {
  const Slab cloud = slab();
  ASSERT_EQ(ekReserve(context, cloud.positions.size(), 0), 0);
  ASSERT_EQ(ekUpload(context, cloud.positions.data(), cloud.colors.data(), nullptr,
                     cloud.positions.size(), 0),
            0);
  const EKCamera camera = farCamera();
  for (float density : {0.5f, 2.0f}) {
    const EKRenderSettings settings = slabSettings(density);
    std::vector<float> image(size_t(kSide) * kSide * 4);
    ASSERT_EQ(ekRender(context, &camera, &settings, nullptr, 0, nullptr, image.data(), nullptr), 0)
        << ekLastError(context);

    const std::vector<double> w = layerDepths(density);
    double tau = 0, allWhite = 0;
    for (double wk : w) {
      allWhite += std::exp(-(tau + wk / 2)) * (1 - std::exp(-wk));
      tau += wk;
    }
    const double backOnly = std::exp(-(tau - w.back() / 2)) * (1 - std::exp(-w.back()));
    ASSERT_NEAR(tau, 1.5 * density * std::pow(kBoxWidth / kSide, 2), 2e-5 * tau);

    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) {
        const float *pixel = &image[(size_t(y) * kSide + x) * 4];
        const double light = x % 2 == 0 ? allWhite : backOnly;
        // The resolve gives 1 - exp(-light) per colour; its inverse recovers the light.
        EXPECT_NEAR(-std::log(1 - double(pixel[3])), tau, kTolerance * tau)
            << "optical depth, density " << density << " pixel " << x << ", " << y;
        EXPECT_NEAR(-std::log(1 - double(pixel[0])), light, kTolerance * light)
            << "light, density " << density << " pixel " << x << ", " << y;
      }
  }
}

EK_INSTANTIATE_FOR_BACKENDS_AND_WORKER_COUNTS(VolumeReference);

} // namespace
