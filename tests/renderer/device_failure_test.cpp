#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "context.h"
#include "failing_device.h"
#include "scene_records.h"

namespace {

using ek::test::FailingDevice;

// A CPU context whose device fails on request.
class DeviceFailures : public ::testing::Test {
protected:
  void SetUp() override {
    context = ekCreate(EK_DEVICE_CPU);
    auto failing = std::make_unique<FailingDevice>(std::move(context->backend));
    device = failing.get();
    context->backend = std::move(failing);
  }
  void TearDown() override { ekDestroy(context); }

  EKContext *context = nullptr;
  FailingDevice *device = nullptr;
};

// The context's buffers free what they hold exactly once: when replaced and when dropped; a
// failed allocation leaves the buffer empty with the reason in the last error.
TEST_F(DeviceFailures, DeviceBuffersFreeWhatTheyHoldOnce) {
  ek::DeviceBuffer<float> buffer;
  ASSERT_TRUE(ek::allocate(context, buffer, 100, "test"));
  EXPECT_EQ(buffer.size(), 100u);
  ASSERT_TRUE(ek::allocate(context, buffer, 200, "test"));
  EXPECT_EQ(buffer.size(), 200u);
  EXPECT_EQ(device->releases, 1) << "the replaced allocation is freed";
  device->allocationsBeforeFailure = 0;
  EXPECT_FALSE(ek::allocate(context, buffer, 300, "test"));
  EXPECT_STREQ(ekLastError(context), "allocate test: out of host memory");
  EXPECT_EQ(device->releases, 2);
  EXPECT_EQ(buffer.get(), nullptr);
  EXPECT_EQ(buffer.size(), 0u);
  buffer.reset();
  EXPECT_EQ(device->releases, 2) << "an empty buffer frees nothing";
  device->allocationsBeforeFailure = -1;
  {
    ek::DeviceBuffer<double> scoped;
    ASSERT_TRUE(ek::allocate(context, scoped, 10, "scoped"));
  }
  EXPECT_EQ(device->releases, 3) << "a dropped buffer frees its allocation";
}

EKCamera camera() { return ek::test::lookingAt({0, 0, 0}, {0, 0, -1}, 60); }

EKRenderSettings settings(int mode = EK_MODE_ADDITIVE) {
  EKRenderSettings s = ek::test::volumeSettings(32, 16, 1, 16, 0, 0);
  s.mode = mode;
  return s;
}

TEST_F(DeviceFailures, ReservationThatFailsHalfwayLeavesAnEmptyContext) {
  ASSERT_EQ(ekReserve(context, 10, 0), 0);
  device->allocationsBeforeFailure = 1; // positions succeed, colours fail
  EXPECT_EQ(ekReserve(context, 100, 1), 1);
  EXPECT_STREQ(ekLastError(context), "allocate colors: out of host memory");
  EXPECT_EQ(context->capacity, 0u);
  EXPECT_EQ(ekGetCount(context), 0u);
  device->allocationsBeforeFailure = 2;
  EXPECT_EQ(ekReserve(context, 100, 1), 1);
  EXPECT_STREQ(ekLastError(context), "allocate velocity: out of host memory");
  EXPECT_FALSE(context->hasVelocityBuffer);
  device->allocationsBeforeFailure = -1;
  EXPECT_EQ(ekReserve(context, 100, 1), 0);
  EXPECT_EQ(context->capacity, 100u);
}

// The CPU backend names host memory in its memory failures; a GPU names cudaMalloc and VRAM.
TEST_F(DeviceFailures, MemoryFailuresNameTheBackendsMemory) {
  device->allocationsBeforeFailure = 0;
  EXPECT_EQ(ekReserve(context, 10, 0), 1);
  EXPECT_STREQ(ekLastError(context), "allocate positions: out of host memory");
  EXPECT_EQ(ekReserve(context, uint64_t(1) << 60, 0), 1);
  EXPECT_EQ(std::string(ekLastError(context)).rfind("Not enough host memory: needs ", 0), 0u)
      << ekLastError(context);
  device->claimsGpuMemory = true;
  EXPECT_EQ(ekReserve(context, 10, 0), 1);
  EXPECT_EQ(std::string(ekLastError(context)).rfind("cudaMalloc positions: ", 0), 0u)
      << ekLastError(context);
  EXPECT_EQ(ekReserve(context, uint64_t(1) << 60, 0), 1);
  EXPECT_EQ(std::string(ekLastError(context)).rfind("Not enough VRAM: needs ", 0), 0u)
      << ekLastError(context);
}

TEST_F(DeviceFailures, FailedCopiesAndFillsNameTheirStep) {
  ASSERT_EQ(ekReserve(context, 4, 1), 0);
  const std::vector<EKV3> positions(4);
  device->failCopiesIn = true;
  EXPECT_EQ(ekUpload(context, positions.data(), nullptr, nullptr, 4, 0), 1);
  EXPECT_STREQ(ekLastError(context), "upload positions: invalid argument");
  EXPECT_EQ(ekGetCount(context), 0u);
  device->failCopiesIn = false;
  device->failFills = true;
  EXPECT_EQ(ekUpload(context, positions.data(), nullptr, nullptr, 4, 0), 1);
  EXPECT_STREQ(ekLastError(context), "set colors to white: invalid argument");
  const std::vector<uint8_t> colors(16, 9);
  EXPECT_EQ(ekUpload(context, positions.data(), colors.data(), nullptr, 4, 0), 1);
  EXPECT_STREQ(ekLastError(context), "clear velocity: invalid argument");
  EXPECT_EQ(ekGetCount(context), 0u) << "a failed upload does not raise the count";
}

TEST_F(DeviceFailures, ImageBufferFailureIsRetriedByTheNextRender) {
  const EKCamera c = camera();
  const EKRenderSettings s = settings();
  std::vector<uint8_t> bytes(32 * 16 * 4);
  std::vector<float> floats(32 * 16 * 4);
  device->claimsGpuMemory = true;       // so the images are resolved into buffers of their own
  device->allocationsBeforeFailure = 2; // accumulator and 8-bit image, then the float image
  EXPECT_EQ(ekRender(context, &c, &s, nullptr, 0, bytes.data(), floats.data(), nullptr), 1);
  EXPECT_STREQ(ekLastError(context), "cudaMalloc image (float): out of host memory");
  EXPECT_FALSE(context->imageFloat) << "a failed allocation leaves its buffer empty";
  device->allocationsBeforeFailure = -1;
  EXPECT_EQ(ekRender(context, &c, &s, nullptr, 0, bytes.data(), floats.data(), nullptr), 0);
  EXPECT_EQ(context->imageFloat.size(), 32u * 16) << "the next render makes it";
}

TEST_F(DeviceFailures, LaunchAndDownloadFailuresLeaveTheCallersImageAlone) {
  const EKCamera c = camera();
  const EKRenderSettings s = settings();
  std::vector<uint8_t> image(32 * 16 * 4, 7);
  device->failLaunches = true;
  EXPECT_EQ(ekRender(context, &c, &s, nullptr, 0, image.data(), nullptr, nullptr), 1);
  EXPECT_STREQ(ekLastError(context), "launch render kernel: invalid configuration argument");
  EXPECT_EQ(ekGenerateTestCloud(context, 100, 1, 0), 1);
  EXPECT_STREQ(ekLastError(context), "launch generator kernel: invalid configuration argument");
  device->failLaunches = false;
  device->claimsGpuMemory = true; // the image is downloaded from a buffer of the device's own
  device->failCopiesOut = true;
  EXPECT_EQ(ekRender(context, &c, &s, nullptr, 0, image.data(), nullptr, nullptr), 1);
  EXPECT_STREQ(ekLastError(context), "download image: invalid argument");
  for (uint8_t v : image)
    ASSERT_EQ(v, 7);
  device->failProperties = true;
  char info[64];
  EXPECT_EQ(ekDeviceInfo(context, info, sizeof info), 1);
  EXPECT_STREQ(ekLastError(context), "cudaGetDeviceProperties: invalid argument");
}

TEST_F(DeviceFailures, VolumetricStepsNameTheirStep) {
  const EKCamera c = camera();
  const EKRenderSettings s = settings(EK_MODE_VOLUMETRIC);
  EKLight light{};
  light.type = 2;
  light.direction = {0, 0, -1};
  light.castsShadows = 1;
  ASSERT_EQ(ekGenerateTestCloud(context, 500, 1, 0), 0);
  ASSERT_EQ(ekRender(context, &c, &s, &light, 1, nullptr, nullptr, nullptr), 0);

  // A larger shadow map than before needs a new buffer.
  EKRenderSettings larger = s;
  larger.shadowMapSize = 64;
  device->allocationsBeforeFailure = 0;
  EXPECT_EQ(ekRender(context, &c, &larger, &light, 1, nullptr, nullptr, nullptr), 1);
  EXPECT_STREQ(ekLastError(context), "allocate shadow maps: out of host memory");
  EXPECT_EQ(context->shadowMaps.size(), 0u);
  device->allocationsBeforeFailure = -1;
  device->failCopiesOut = true;
  EXPECT_EQ(ekRender(context, &c, &larger, &light, 1, nullptr, nullptr, nullptr), 1);
  EXPECT_STREQ(ekLastError(context), "read bounds: invalid argument");
  device->failCopiesOut = false;
  device->failLaunches = true;
  EXPECT_EQ(ekRender(context, &c, &larger, &light, 1, nullptr, nullptr, nullptr), 1);
  EXPECT_STREQ(ekLastError(context), "bounds kernel: invalid configuration argument");
}

TEST_F(DeviceFailures, AbsurdShadowSettingsAreRefusedNotWrapped) {
  const EKCamera c = camera();
  EKRenderSettings s = settings(EK_MODE_VOLUMETRIC);
  // 2^31 texels square times 2^31 slices wraps 64 bits many times over.
  s.shadowMapSize = 2147483647;
  s.shadowSlices = 2147483647;
  EKLight light{};
  light.type = 0;
  light.position = {0, 0, -5};
  light.castsShadows = 1;
  ASSERT_EQ(ekGenerateTestCloud(context, 100, 1, 0), 0);
  EXPECT_EQ(ekRender(context, &c, &s, &light, 1, nullptr, nullptr, nullptr), 1);
  EXPECT_STREQ(ekLastError(context), "allocate shadow maps: out of host memory");
  s.shadowMapSize = 16;
  s.shadowSlices = 4;
  s.cameraSlices = 2147483647;
  EXPECT_EQ(ekRender(context, &c, &s, &light, 1, nullptr, nullptr, nullptr), 1);
  EXPECT_STREQ(ekLastError(context), "allocate camera depth map: out of host memory");
}

// A device that cannot be made current stops every call at the door: each one fails naming itself
// and the step, nothing reaches the device, and what the context and the caller hold is kept.
TEST_F(DeviceFailures, EveryCallStopsWhenTheDeviceCannotBeMadeCurrent) {
  ASSERT_EQ(ekGenerateTestCloud(context, 100, 1, 1), 0);
  const EKCamera c = camera();
  const EKRenderSettings additive = settings();
  const EKRenderSettings volumetric = settings(EK_MODE_VOLUMETRIC);
  EKLight light{};
  light.type = EK_LIGHT_DIRECTIONAL;
  light.direction = {0, 0, -1};
  std::vector<uint8_t> image(32 * 16 * 4, 7);
  const std::vector<EKV3> positions(4);
  char info[64] = "untouched";

  device->failMakeCurrent = true;
  const int callsBefore = device->calls;
  const struct {
    const char *name;
    std::function<int32_t()> call;
  } calls[] = {
      {"ekDeviceInfo", [&] { return ekDeviceInfo(context, info, sizeof info); }},
      {"ekReserve", [&] { return ekReserve(context, 50, 0); }},
      {"ekReserve", [&] { return ekReserve(context, 1000, 1); }},
      {"ekUpload", [&] { return ekUpload(context, positions.data(), nullptr, nullptr, 4, 0); }},
      {"ekSetCount", [&] { return ekSetCount(context, 10); }},
      {"ekGenerateTestCloud", [&] { return ekGenerateTestCloud(context, 10, 2, 0); }},
      {"ekRender",
       [&] {
         return ekRender(context, &c, &additive, nullptr, 0, image.data(), nullptr, nullptr);
       }},
      {"ekRender",
       [&] {
         return ekRender(context, &c, &volumetric, &light, 1, image.data(), nullptr, nullptr);
       }},
  };
  for (const auto &entry : calls) {
    EXPECT_EQ(entry.call(), 1) << entry.name;
    EXPECT_EQ(std::string(ekLastError(context)),
              std::string(entry.name) + ": make device current: invalid argument");
  }
  EXPECT_EQ(device->calls, callsBefore) << "nothing ran on the device";
  EXPECT_STREQ(info, "untouched");
  for (uint8_t v : image)
    ASSERT_EQ(v, 7);
  EXPECT_EQ(ekGetCount(context), 100u) << "the particles held are kept";
  EXPECT_EQ(context->capacity, 100u);

  device->failMakeCurrent = false;
  EXPECT_EQ(ekRender(context, &c, &additive, nullptr, 0, image.data(), nullptr, nullptr), 0)
      << "the context works again once its device does";
  EXPECT_EQ(ekDeviceInfo(context, info, sizeof info), 0);
}

// A grid of no blocks cannot be configured, whichever kernel it is for: the CPU device records the
// error the CUDA runtime reports and runs nothing (the records hold null buffers, which a run would
// write through).
template <size_t... Kernel> void expectNoBlocksRefused(std::index_sequence<Kernel...>) {
  ek::CpuDevice device(2, ek::VectorPaths{});
  auto expectRefused = [&](const ek::KernelArgs &args) {
    device.launch(0, args);
    EXPECT_EQ(device.takeLaunchError(), ek::kCpuInvalidConfiguration) << "kernel " << args.index();
    EXPECT_EQ(device.takeLaunchError(), ek::kDeviceOk) << "taking the error clears it";
  };
  (expectRefused(std::variant_alternative_t<Kernel, ek::KernelArgs>{}), ...);
}

TEST(CpuLaunch, EveryKernelRefusesAGridOfNoBlocks) {
  expectNoBlocksRefused(std::make_index_sequence<std::variant_size_v<ek::KernelArgs>>());
}

} // namespace
