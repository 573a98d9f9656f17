// Runs a test suite once per backend: the CPU always, CUDA device 0 when one is usable. The CPU
// may run with given worker counts: one worker runs every pass inline, three split the work
// unevenly, ten give most workers little or nothing and, with large images, add atomically.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "context.h"
#include "cpu/cpu_device.h"
#include "emberkit.h"

namespace ek::test {

struct Backend {
  int32_t device;       // EK_DEVICE_CPU or a CUDA ordinal
  unsigned workers = 0; // CPU worker threads; 0: as many as ekCreate starts
};

inline void PrintTo(const Backend &b, std::ostream *out) {
  *out << "device " << b.device << ", " << b.workers << " workers";
}

// A CPU context with exactly `workers` worker threads.
inline EKContext *createCpuContext(unsigned workers) {
  return createContext(EK_DEVICE_CPU,
                       std::make_unique<CpuDevice>(workers, vectorPathsFor(detectCpuFeatures())));
}

class BackendTest : public ::testing::TestWithParam<Backend> {
protected:
  void SetUp() override {
    const Backend backend = GetParam();
    context = backend.workers > 0 ? createCpuContext(backend.workers) : ekCreate(backend.device);
    ASSERT_NE(context, nullptr);
    if (!onCpu() && std::string(ekLastError(context)) != "") {
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

  bool onCpu() const { return GetParam().device == EK_DEVICE_CPU; }

  // The memory the backend's failures name.
  const char *memoryName() const { return onCpu() ? "host memory" : "VRAM"; }

  EKContext *context = nullptr;
};

inline std::string backendName(const ::testing::TestParamInfo<Backend> &info) {
  const Backend &b = info.param;
  if (b.device != EK_DEVICE_CPU)
    return "Cuda" + std::to_string(b.device);
  return b.workers == 0 ? "Cpu" : "Cpu" + std::to_string(b.workers) + "Workers";
}

} // namespace ek::test

#define EK_INSTANTIATE_FOR_BACKENDS(Suite)                                                         \
  INSTANTIATE_TEST_SUITE_P(                                                                        \
      Backends, Suite, ::testing::Values(ek::test::Backend{EK_DEVICE_CPU}, ek::test::Backend{0}),  \
      ek::test::backendName)

// The suites whose passes split work among the CPU's workers run with several worker counts.
#define EK_INSTANTIATE_FOR_BACKENDS_AND_WORKER_COUNTS(Suite)                                       \
  INSTANTIATE_TEST_SUITE_P(                                                                        \
      Backends, Suite,                                                                             \
      ::testing::Values(ek::test::Backend{EK_DEVICE_CPU, 1}, ek::test::Backend{EK_DEVICE_CPU, 3},  \
                        ek::test::Backend{EK_DEVICE_CPU, 10}, ek::test::Backend{0}),               \
      ek::test::backendName)
