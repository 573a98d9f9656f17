// A slab of known density seen face-on, with the volumetric look's optical depth worked out by
// hand.
//
// The slab: 16 x 16 x 8 particles, half a unit apart across and one unit apart in depth, centred
// on the origin (x and y -3.75 .. 3.75, z -3.5 .. 3.5): four particles per unit cell of each
// layer. Its box, padded by 0.001, is 7.502 x 7.502 x 7.002, and a uniform lattice's mean plus or
// minus two deviations reaches beyond it, so the density is spread over that box: each particle
// blocks sigma = (7.502^2 + 2 x 7.502 x 7.002) / 2 x density / 2048 units^2.
//
// The camera: 1000 units away on +z, looking at the origin, 8 x 8 pixels whose footprint is one
// unit square at depth 1000 (tan(fov / 2) = 4 / 1000), so each pixel's ray passes four particles
// of each of the 8 layers, at depths d_k = 996.5 + k. There the footprint is (d_k / 1000)^2 (the
// slant of the outer rays changes it by less than 2e-5), so one particle of layer k blocks
// w_k = sigma (1000 / d_k)^2 of the pixel, the layer 4 w_k, and the pixel's optical depth is
// tau = 4 (w_0 + ... + w_7), 32 sigma = density (7.502^2 + 2 x 7.502 x 7.002) / 128 up to 2e-5:
// for a cube, 1.5 x density.
//
// Alpha is 1 - exp(-tau). Light: with ambient 1 and no lights a white particle of layer k sends
// exp(-(4 w_0 + ... + 4 w_(k-1) + 2 w_k)) (1 - exp(-w_k)): the light of its own blob, dimmed by
// the layers in front and half its own layer. With 32 camera slices over the 7.002 deep box each
// layer has its own slices, so the depth map holds these sums without blur.
//
// Tolerance: the slant (2e-5) and single-precision sums and exponentials (1e-6) stay far below
// 1e-4 relative; a wrong density scale, depth, footprint or transmittance is off by percents.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "backend_fixture.h"

namespace {

using VolumeReference = ek::test::BackendTest;

constexpr int kSide = 8;     // pixels across, and layers
constexpr int kPerPixel = 2; // particles across a pixel's footprint
constexpr double kDistance = 1000;
constexpr double kWidth = 7.502, kDepth = 7.002; // the padded box
constexpr double kTolerance = 1e-4;

struct Slab {
  std::vector<EKV3> positions;
  std::vector<uint8_t> colors;
};

// Even columns of pixels are white throughout; odd columns are black but for the back layer,
// whose light then reaches the camera only through the seven layers in front.
Slab slab() {
  Slab s;
  constexpr int across = kSide * kPerPixel;
  for (int layer = 0; layer < kSide; ++layer)
    for (int row = 0; row < across; ++row)
      for (int column = 0; column < across; ++column) {
        s.positions.push_back({0.5f * column - 3.75f, 0.5f * row - 3.75f, 3.5f - layer});
        const bool white = (column / kPerPixel) % 2 == 0 || layer == kSide - 1;
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

// The share of a pixel one particle of each layer blocks, front first.
std::vector<double> particleShares(float density) {
  const double sigma = (kWidth * kWidth + 2 * kWidth * kDepth) / 2 * density / 2048;
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

    const std::vector<double> w = particleShares(density);
    constexpr double n = kPerPixel * kPerPixel; // particles of a layer in one pixel
    double tau = 0, allWhite = 0;
    for (double wk : w) {
      allWhite += n * std::exp(-(tau + n * wk / 2)) * (1 - std::exp(-wk));
      tau += n * wk;
    }
    const double back = w.back();
    const double backOnly = n * std::exp(-(tau - n * back / 2)) * (1 - std::exp(-back));
    ASSERT_NEAR(tau, density * (kWidth * kWidth + 2 * kWidth * kDepth) / 128, 2e-5 * tau);

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
