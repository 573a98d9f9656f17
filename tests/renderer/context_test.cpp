#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "backend_fixture.h"
#include "context.h"

namespace {

using ek::test::BackendTest;

TEST(ContextApi, NullContextIsHandledEverywhere) {
  EXPECT_EQ(ekApiVersion(), 7);
  EXPECT_STREQ(ekLastError(nullptr), "no context");
  EXPECT_EQ(ekGetCount(nullptr), 0u);
  ekDestroy(nullptr);
  char buffer[64] = "untouched";
  EXPECT_EQ(ekDeviceInfo(nullptr, buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(ekReserve(nullptr, 10, 0), 1);
  EXPECT_EQ(ekSetCount(nullptr, 0), 1);
  EXPECT_EQ(ekUpload(nullptr, nullptr, nullptr, nullptr, 0, 0), 1);
  EXPECT_EQ(ekGenerateTestCloud(nullptr, 10, 1, 0), 1);
}

TEST(ContextApi, CudaWithoutDeviceFailsSoftly) {
  EKContext *context = ekCreate(0);
  ASSERT_NE(context, nullptr);
  const std::string error = ekLastError(context);
  if (error.empty()) {
    ekDestroy(context);
    GTEST_SKIP() << "a CUDA device is present";
  }
  EXPECT_EQ(error, "Could not initialize CUDA device");
  // Later calls fail at selecting the device instead of crashing.
  EXPECT_EQ(ekReserve(context, 1000, 1), 1);
  EXPECT_EQ(std::string(ekLastError(context)).rfind("ekReserve: make device current: ", 0), 0u)
      << ekLastError(context);
  EXPECT_EQ(ekGetCount(context), 0u);
  ekDestroy(context);
}

TEST(ContextApi, NegativeOrdinalOtherThanCpuIsACudaOrdinal) {
  EKContext *context = ekCreate(-2);
  ASSERT_NE(context, nullptr);
  EXPECT_STREQ(ekLastError(context), "Could not initialize CUDA device");
  ekDestroy(context);
}

// No exception leaves an exported function: each kind becomes a failure under the function's
// name, an exhausted heap told apart from every other fault.
TEST(ContextApi, ExceptionsBecomeFailuresThatSayWhatHappened) {
  EKContext *context = ekCreate(EK_DEVICE_CPU);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(ek::enter(context, "ekStep", []() -> int32_t { throw std::bad_alloc(); }), 1);
  EXPECT_STREQ(ekLastError(context), "ekStep: out of host memory");
  EXPECT_EQ(
      ek::enter(context, "ekStep",
                []() -> int32_t { throw std::runtime_error("worker thread could not start"); }),
      1);
  EXPECT_STREQ(ekLastError(context), "ekStep: worker thread could not start");
  EXPECT_EQ(ek::enter(context, "ekStep", []() -> int32_t { throw 7; }), 1);
  EXPECT_STREQ(ekLastError(context), "ekStep: unexpected failure (unknown exception)");
  EXPECT_EQ(ek::enter(context, "ekStep", [] { return int32_t(0); }), 0);
  EXPECT_STREQ(ekLastError(context), "ekStep: unexpected failure (unknown exception)")
      << "success leaves the last error alone";
  ekDestroy(context);
}

TEST(ContextApi, CpuDescribesItselfAsComputeCapabilityZero) {
  EKContext *context = ekCreate(EK_DEVICE_CPU);
  ASSERT_NE(context, nullptr);
  EXPECT_STREQ(ekLastError(context), "");
  char info[256];
  ASSERT_EQ(ekDeviceInfo(context, info, sizeof info), 0);
  const std::string text = info;
  EXPECT_NE(text.find(" threads) | CC 0.0 | VRAM free "), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 3), " GB") << text;
  ekDestroy(context);
}

TEST_P(BackendTest, DeviceInfoTruncatesToTheBuffer) {
  char full[256];
  ASSERT_EQ(ekDeviceInfo(context, full, sizeof full), 0);
  char small[10];
  std::memset(small, 'x', sizeof small);
  ASSERT_EQ(ekDeviceInfo(context, small, sizeof small), 0);
  EXPECT_EQ(std::strlen(small), 9u);
  EXPECT_EQ(std::string(small), std::string(full).substr(0, 9));
  EXPECT_EQ(ekDeviceInfo(context, small, 0), 1);
  EXPECT_EQ(ekDeviceInfo(context, nullptr, 10), 1);
  EXPECT_STREQ(ekLastError(context), "") << "argument checks of ekDeviceInfo leave no text";
}

TEST_P(BackendTest, SuccessNeverClearsTheLastError) {
  ASSERT_EQ(ekReserve(context, 4, 0), 0);
  EXPECT_EQ(ekSetCount(context, 5), 1);
  EXPECT_STREQ(ekLastError(context), "ekSetCount: larger than capacity");
  EXPECT_EQ(ekSetCount(context, 4), 0);
  const EKV3 positions[2] = {};
  EXPECT_EQ(ekUpload(context, positions, nullptr, nullptr, 2, 0), 0);
  EXPECT_STREQ(ekLastError(context), "ekSetCount: larger than capacity");
  EXPECT_EQ(ekUpload(context, nullptr, nullptr, nullptr, 2, 0), 1);
  EXPECT_STREQ(ekLastError(context), "ekUpload: invalid parameters");
}

TEST(Grid, BlocksForRoundsUpAndCapsPerMultiprocessor) {
  using ek::blocksForMultiprocessors;
  EXPECT_EQ(blocksForMultiprocessors(0, 256, 10), 1u);
  EXPECT_EQ(blocksForMultiprocessors(1, 256, 10), 1u);
  EXPECT_EQ(blocksForMultiprocessors(256, 256, 10), 1u);
  EXPECT_EQ(blocksForMultiprocessors(257, 256, 10), 2u);
  EXPECT_EQ(blocksForMultiprocessors(12000, 256, 10), 47u);
  EXPECT_EQ(blocksForMultiprocessors(1000000, 256, 10), 320u);
  // An unknown multiprocessor count is taken as 64.
  EXPECT_EQ(blocksForMultiprocessors(1000000, 256, 0), 2048u);
  EXPECT_EQ(blocksForMultiprocessors(1000000, 256, -3), 2048u);
  // Counts near 2^64 neither wrap to few blocks nor overflow the grid size.
  EXPECT_EQ(blocksForMultiprocessors(UINT64_MAX, 256, 132), 32u * 132u);
  EXPECT_EQ(blocksForMultiprocessors(UINT64_MAX - 100, 256, 0), 2048u);
  // The one-thread-per-item grid is the same count without the cap.
  EXPECT_EQ(ek::blocksCovering(0, 256), 1u);
  EXPECT_EQ(ek::blocksCovering(1000000, 256), 3907u);
  EXPECT_EQ(ek::blocksCovering(UINT64_MAX, 256), UINT64_MAX / 256 + 1);
}

// particles x copies x samples, refused with a reason where it passes 64 bits.
TEST(Grid, SplatWorkIsCheckedAgainst64Bits) {
  EKContext *context = ekCreate(EK_DEVICE_CPU);
  ASSERT_NE(context, nullptr);
  ek::Frame frame{};
  frame.repopulation = 2;
  frame.samples = 4;
  uint64_t work = 1;
  EXPECT_TRUE(ek::splatWork(context, frame, 0, work));
  EXPECT_EQ(work, 0u);
  EXPECT_TRUE(ek::splatWork(context, frame, 1000, work));
  EXPECT_EQ(work, 12000u);
  EXPECT_TRUE(ek::splatWork(context, frame, UINT64_MAX / 12, work));
  EXPECT_EQ(work, UINT64_MAX / 12 * 12);
  EXPECT_STREQ(ekLastError(context), "");
  EXPECT_FALSE(ek::splatWork(context, frame, UINT64_MAX / 12 + 1, work));
  EXPECT_STREQ(ekLastError(context),
               "ekRender: too many samples (particles x copies x samples exceeds 64 bits)");
  ekDestroy(context);
}

EK_INSTANTIATE_FOR_BACKENDS(BackendTest);

} // namespace
