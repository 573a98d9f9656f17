// Runs a test suite once per backend: the CPU always, CUDA device 0 when one is usable.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "context.h"
#include "emberkit.h"

namespace ek::test {

class BackendTest : public ::testing::TestWithParam<int> {
protected:
  void SetUp() override {
    context = ekCreate(GetParam());
    ASSERT_NE(context, nullptr);
    if (GetParam() != EK_DEVICE_CPU && std::string(ekLastError(context)) != "") {
      ekDestroy(context);
      context = nullptr;
      GTEST_SKIP() << "no usable CUDA device";
    }
    ASSERT_STREQ(ekLastError(context), "");
  }
  void TearDown() override { ekDestroy(context); }

  // Reads device memory back through the backend, whichever it is.
  template <typename T> std::vector<T> download(const T *source, uint64_t n) {
    std::vector<T> out(n);
    EXPECT_EQ(context->backend->copyToHost(out.data(), source, n * sizeof(T)), kDeviceOk);
    return out;
  }

  // The memory the backend's failures name.
  const char *memoryName() const { return GetParam() == EK_DEVICE_CPU ? "host memory" : "VRAM"; }

  EKContext *context = nullptr;
};

inline std::string backendName(const ::testing::TestParamInfo<int> &info) {
  return info.param == EK_DEVICE_CPU ? "Cpu" : "Cuda" + std::to_string(info.param);
}

} // namespace ek::test

#define EK_INSTANTIATE_FOR_BACKENDS(Suite)                                                         \
  INSTANTIATE_TEST_SUITE_P(Backends, Suite, ::testing::Values(EK_DEVICE_CPU, 0),                   \
                           ek::test::backendName)
