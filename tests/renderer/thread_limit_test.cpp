// The CPU backend at the system's thread limit: a worker that cannot start ends the pool cleanly
// and ekCreate fails instead of hanging or aborting.
#include <gtest/gtest.h>

#include <atomic>
#include <system_error>
#include <thread>

#include "cpu/worker_pool.h"
#include "emberkit.h"
#include "thread_start_shim.h"

namespace {

class ThreadLimit : public ::testing::Test {
protected:
  void TearDown() override { allowThreadStarts(-1); }
};

TEST_F(ThreadLimit, HalfBuiltPoolStopsItsWorkersAndReportsTheFailure) {
  allowThreadStarts(2); // of the three extra threads of a pool of four
  EXPECT_THROW(ek::WorkerPool pool(4), std::system_error);
  allowThreadStarts(-1);
  ek::WorkerPool pool(4);
  std::atomic<uint64_t> sum{0};
  pool.parallelFor(1000, 1, [&](uint64_t begin, uint64_t end, unsigned) {
    for (uint64_t i = begin; i < end; ++i)
      sum += i;
  });
  EXPECT_EQ(sum.load(), 499500u);
}

TEST_F(ThreadLimit, CpuContextIsNotCreatedWithoutItsWorkers) {
  const unsigned cores = std::thread::hardware_concurrency();
  if (cores < 2)
    GTEST_SKIP() << "a single-core machine starts no worker threads";
  allowThreadStarts(int(cores) - 2); // all workers but the last one start
  EXPECT_EQ(ekCreate(EK_DEVICE_CPU), nullptr);
  allowThreadStarts(-1);
  EKContext *context = ekCreate(EK_DEVICE_CPU);
  ASSERT_NE(context, nullptr);
  EXPECT_STREQ(ekLastError(context), "");
  ekDestroy(context);
}

} // namespace
