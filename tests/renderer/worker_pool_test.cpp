#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "cpu/cpu_device.h"
#include "cpu/worker_pool.h"

namespace {

TEST(WorkerPool, CoversEveryItemExactlyOnce) {
  for (unsigned workers : {1u, 2u, 5u}) {
    ek::WorkerPool pool(workers);
    EXPECT_EQ(pool.size(), workers);
    for (uint64_t total : {uint64_t(0), uint64_t(1), uint64_t(255), uint64_t(10007)}) {
      for (uint64_t chunk : {uint64_t(0), uint64_t(1), uint64_t(64), uint64_t(100000)}) {
        std::vector<std::atomic<int>> hits(total);
        pool.parallelFor(total, chunk, [&](uint64_t begin, uint64_t end, unsigned worker) {
          EXPECT_LT(worker, workers);
          for (uint64_t i = begin; i < end; ++i)
            hits[i].fetch_add(1);
        });
        for (uint64_t i = 0; i < total; ++i)
          ASSERT_EQ(hits[i].load(), 1)
              << "workers " << workers << " total " << total << " item " << i << " chunk " << chunk;
      }
    }
  }
}

TEST(WorkerPool, RunsOnSeveralThreadsAndReusesThem) {
  ek::WorkerPool pool(3);
  std::set<std::thread::id> seen;
  std::mutex mutex;
  for (int launch = 0; launch < 50; ++launch) {
    pool.parallelFor(3000, 1, [&](uint64_t, uint64_t, unsigned) {
      std::lock_guard lock(mutex);
      seen.insert(std::this_thread::get_id());
    });
  }
  // Three workers at most, whatever the number of launches: threads are not made per launch.
  EXPECT_LE(seen.size(), 3u);
  EXPECT_GE(seen.size(), 1u);
}

TEST(WorkerPool, ConcurrentCallersAreSerialised) {
  ek::WorkerPool pool(2);
  std::atomic<uint64_t> sum{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t)
    callers.emplace_back([&] {
      for (int i = 0; i < 20; ++i)
        pool.parallelFor(
            1000, 10, [&](uint64_t begin, uint64_t end, unsigned) { sum.fetch_add(end - begin); });
    });
  for (std::thread &caller : callers)
    caller.join();
  EXPECT_EQ(sum.load(), 4u * 20u * 1000u);
}

// A worker count asked for is taken when it is a whole number in range; anything else leaves the
// machine's.
TEST(CpuWorkerCount, AWholeNumberInRangeOrTheMachines) {
  EXPECT_EQ(ek::cpuWorkerCount("3", 16), 3u);
  EXPECT_EQ(ek::cpuWorkerCount("1024", 16), 1024u);
  for (const char *ignored : {"", "0", "-2", "2x", "1025", "99999999999999999999", " "})
    EXPECT_EQ(ek::cpuWorkerCount(ignored, 16), 16u) << "'" << ignored << "'";
  EXPECT_EQ(ek::cpuWorkerCount(nullptr, 6), 6u);
  EXPECT_EQ(ek::cpuWorkerCount(nullptr, 0), 1u) << "a machine that cannot tell";
}

} // namespace
