#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "backend_fixture.h"
#include "galaxy_shape.h"

namespace {

using ParticleBuffers = ek::test::BackendTest;

std::vector<EKV3> sequence(uint64_t n, float start) {
  std::vector<EKV3> out(n);
  for (uint64_t i = 0; i < n; ++i)
    out[i] = {start + float(i), -float(i), 0.5f * float(i)};
  return out;
}

TEST_P(ParticleBuffers, ReservationOnlyGrows) {
  EXPECT_EQ(ekReserve(context, 0, 0), 0);
  EXPECT_EQ(context->positions.get(), nullptr) << "capacity 0 allocates nothing";
  ASSERT_EQ(ekReserve(context, 100, 0), 0);
  EXPECT_EQ(context->capacity, 100u);
  const EKV3 *positions = context->positions.get();
  ASSERT_EQ(ekSetCount(context, 60), 0);
  EXPECT_EQ(ekReserve(context, 50, 0), 0);
  EXPECT_EQ(context->capacity, 100u) << "a smaller request never shrinks";
  EXPECT_EQ(context->positions.get(), positions);
  EXPECT_EQ(ekGetCount(context), 60u);
  ASSERT_EQ(ekReserve(context, 200, 0), 0);
  EXPECT_EQ(context->capacity, 200u);
  EXPECT_EQ(ekGetCount(context), 0u) << "reallocation resets the count";
}

TEST_P(ParticleBuffers, VelocityReservationReallocatesEvenWhenSmaller) {
  ASSERT_EQ(ekReserve(context, 100, 0), 0);
  ASSERT_EQ(ekSetCount(context, 80), 0);
  EXPECT_EQ(context->velocities.get(), nullptr);
  ASSERT_EQ(ekReserve(context, 10, 1), 0);
  EXPECT_EQ(context->capacity, 10u);
  EXPECT_EQ(ekGetCount(context), 0u);
  EXPECT_TRUE(context->hasVelocityBuffer);
  EXPECT_NE(context->velocities.get(), nullptr);
  // Fits now, with or without velocity.
  EXPECT_EQ(ekReserve(context, 10, 1), 0);
  EXPECT_EQ(ekReserve(context, 5, 0), 0);
  EXPECT_TRUE(context->hasVelocityBuffer);
  // Growing without velocity drops the velocity buffer.
  ASSERT_EQ(ekReserve(context, 20, 0), 0);
  EXPECT_FALSE(context->hasVelocityBuffer);
  EXPECT_EQ(context->velocities.get(), nullptr);
}

TEST_P(ParticleBuffers, TooLittleMemoryLeavesTheBuffersAlone) {
  ASSERT_EQ(ekReserve(context, 16, 1), 0);
  const EKV3 *positions = context->positions.get();
  // 2^55 particles with velocity need 28 x 2^55 bytes: far beyond any machine.
  ASSERT_EQ(ekReserve(context, uint64_t(1) << 55, 1), 1);
  const std::string error = ekLastError(context);
  EXPECT_EQ(error.rfind(
                std::string("Not enough ") + memoryName() + ": needs 939524096.00 GB, approx. ", 0),
            0u)
      << error;
  EXPECT_EQ(error.substr(error.size() - 13), " GB available") << error;
  EXPECT_EQ(context->capacity, 16u);
  EXPECT_EQ(context->positions.get(), positions);
}

TEST_P(ParticleBuffers, SizesThatWouldWrapAreRefused) {
  ASSERT_EQ(ekReserve(context, 8, 0), 0);
  // 28 x n wraps around 2^64 for this n; the request must still be refused, not shrunk.
  const uint64_t wrapping = UINT64_MAX / 28 + 2;
  EXPECT_EQ(ekReserve(context, wrapping, 1), 1);
  EXPECT_EQ(std::string(ekLastError(context)).rfind(std::string("Not enough ") + memoryName(), 0),
            0u);
  EXPECT_EQ(ekReserve(context, UINT64_MAX, 0), 1);
  EXPECT_EQ(context->capacity, 8u);

  const std::vector<EKV3> positions = sequence(4, 0);
  // first + n wraps to a small number here.
  EXPECT_EQ(ekUpload(context, positions.data(), nullptr, nullptr, 4, UINT64_MAX - 1), 1);
  EXPECT_STREQ(ekLastError(context), "ekUpload: capacity exceeded (call ekReserve first)");
  EXPECT_EQ(ekUpload(context, positions.data(), nullptr, nullptr, UINT64_MAX, 2), 1);
  EXPECT_EQ(ekGetCount(context), 0u);
}

TEST_P(ParticleBuffers, UploadsLandAtTheirOffsetAndRaiseTheCount) {
  ASSERT_EQ(ekReserve(context, 20, 0), 0);
  const std::vector<EKV3> first = sequence(20, 0);
  ASSERT_EQ(ekUpload(context, first.data(), nullptr, nullptr, 20, 0), 0);
  EXPECT_EQ(ekGetCount(context), 20u);
  const std::vector<EKV3> slice = sequence(10, 100);
  ASSERT_EQ(ekUpload(context, slice.data(), nullptr, nullptr, 10, 5), 0);
  EXPECT_EQ(ekGetCount(context), 20u) << "an upload never lowers the count";
  const std::vector<EKV3> stored = download(context->positions.get(), 20);
  for (uint64_t i = 0; i < 20; ++i) {
    const EKV3 expected = i >= 5 && i < 15 ? slice[i - 5] : first[i];
    EXPECT_EQ(stored[i].x, expected.x) << i;
    EXPECT_EQ(stored[i].y, expected.y) << i;
    EXPECT_EQ(stored[i].z, expected.z) << i;
  }
  ASSERT_EQ(ekSetCount(context, 0), 0);
  ASSERT_EQ(ekUpload(context, slice.data(), nullptr, nullptr, 10, 5), 0);
  EXPECT_EQ(ekGetCount(context), 15u);
  EXPECT_EQ(ekUpload(context, slice.data(), nullptr, nullptr, 10, 11), 1);
  EXPECT_STREQ(ekLastError(context), "ekUpload: capacity exceeded (call ekReserve first)");
  EXPECT_EQ(ekSetCount(context, 20), 0) << "count equal to capacity is allowed";
  EXPECT_EQ(ekSetCount(context, 21), 1);
  EXPECT_EQ(ekGetCount(context), 20u);
}

TEST_P(ParticleBuffers, MissingColoursAreWhiteAndMissingVelocitiesZero) {
  ASSERT_EQ(ekReserve(context, 6, 1), 0);
  const std::vector<EKV3> positions = sequence(6, 0);
  const std::vector<EKV3> velocities = sequence(6, 7);
  std::vector<uint8_t> colors(24);
  for (size_t i = 0; i < colors.size(); ++i)
    colors[i] = uint8_t(i * 3);
  ASSERT_EQ(ekUpload(context, positions.data(), colors.data(), velocities.data(), 6, 0), 0);
  EXPECT_TRUE(context->velocitiesValid);
  // Overwrite the middle two without colours or velocities.
  ASSERT_EQ(ekUpload(context, positions.data(), nullptr, nullptr, 2, 2), 0);
  EXPECT_TRUE(context->velocitiesValid) << "uploads at other offsets leave the flag";
  const std::vector<Rgba8> storedColors = download(context->colors.get(), 6);
  const std::vector<EKV3> storedVelocities = download(context->velocities.get(), 6);
  for (int i = 0; i < 6; ++i) {
    const bool overwritten = i == 2 || i == 3;
    EXPECT_EQ(storedColors[i].r, overwritten ? 255 : colors[i * 4]) << i;
    EXPECT_EQ(storedColors[i].a, overwritten ? 255 : colors[i * 4 + 3]) << i;
    EXPECT_EQ(storedVelocities[i].x, overwritten ? 0.0f : velocities[i].x) << i;
    EXPECT_EQ(storedVelocities[i].z, overwritten ? 0.0f : velocities[i].z) << i;
  }
  ASSERT_EQ(ekUpload(context, positions.data(), nullptr, nullptr, 6, 0), 0);
  EXPECT_FALSE(context->velocitiesValid) << "an upload at 0 without velocities invalidates them";
}

TEST_P(ParticleBuffers, VelocityNeedsAVelocityReservation) {
  ASSERT_EQ(ekReserve(context, 4, 0), 0);
  const std::vector<EKV3> positions = sequence(4, 0);
  EXPECT_EQ(ekUpload(context, positions.data(), nullptr, positions.data(), 4, 0), 1);
  EXPECT_STREQ(ekLastError(context), "ekUpload: velocity passed but reserved without velocity");
  EXPECT_EQ(ekGetCount(context), 0u);
}

TEST_P(ParticleBuffers, TestCloudFillsTheBuffers) {
  ASSERT_EQ(ekGenerateTestCloud(context, 0, 1, 0), 0) << ekLastError(context);
  EXPECT_EQ(ekGetCount(context), 0u);
  ASSERT_EQ(ekGenerateTestCloud(context, 1000, 7, 1), 0) << ekLastError(context);
  EXPECT_EQ(ekGetCount(context), 1000u);
  EXPECT_TRUE(context->velocitiesValid);
  const std::vector<Rgba8> colors = download(context->colors.get(), 1000);
  for (const Rgba8 &c : colors)
    EXPECT_EQ(c.a, 255);
}

EK_INSTANTIATE_FOR_BACKENDS(ParticleBuffers);

} // namespace

namespace {

using TestCloud = ek::test::BackendTest;

TEST_P(TestCloud, SeedDecidesAndLargerCountsExtendSmallerOnes) {
  ASSERT_EQ(ekGenerateTestCloud(context, 1000, 5, 1), 0) << ekLastError(context);
  const std::vector<EKV3> small = download(context->positions.get(), 1000);
  const std::vector<EKV3> smallVelocities = download(context->velocities.get(), 1000);
  ASSERT_EQ(ekGenerateTestCloud(context, 20000, 5, 0), 0);
  EXPECT_FALSE(context->velocitiesValid);
  const std::vector<EKV3> large = download(context->positions.get(), 20000);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(large[i].x, small[i].x) << i;
    ASSERT_EQ(large[i].y, small[i].y) << i;
    ASSERT_EQ(large[i].z, small[i].z) << i;
    EXPECT_FLOAT_EQ(smallVelocities[i].x, -0.03f * small[i].z) << "rigid rotation about y";
    EXPECT_FLOAT_EQ(smallVelocities[i].z, 0.03f * small[i].x);
  }
  ek::test::expectGalaxyShape(large, download(context->colors.get(), 20000));
  ASSERT_EQ(ekGenerateTestCloud(context, 1000, 6, 0), 0);
  const std::vector<EKV3> other = download(context->positions.get(), 1000);
  int same = 0;
  for (int i = 0; i < 1000; ++i)
    same += other[i].x == small[i].x;
  EXPECT_LT(same, 5) << "another seed, another cloud";
}

EK_INSTANTIATE_FOR_BACKENDS_AND_WORKER_COUNTS(TestCloud);

} // namespace
