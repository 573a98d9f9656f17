// The CPU layer pass's sink for its additions to the layer sums.
#pragma once

#include <cstdint>

#include "cpu/dirty_tiles.h"
#include "cpu/prefetch.h"
#include "kernels/ek_hd.h"
#include "kernels/volume.h"

namespace ek {

// The layer pass's sink: the sums land all over a large buffer, so each addition's cell is asked
// for when it is handed in and added once a batch is full, by which time most cells have arrived.
// It flags the tiles it writes.
class BatchedAdds {
public:
  explicit BatchedAdds(const DirtyTiles &sums) : sums_(sums) {}
  ~BatchedAdds() { flush(); }
  BatchedAdds(const BatchedAdds &) = delete;
  BatchedAdds &operator=(const BatchedAdds &) = delete;

  void operator()(float *address, float value) {
    prefetchForWrite(address);
    addresses_[filled_] = address;
    values_[filled_] = value;
    if (++filled_ == kBatch)
      flush();
  }

private:
  static constexpr uint32_t kBatch = 512;
  void flush() {
    for (uint32_t i = 0; i < filled_; ++i) {
      sums_.markForAtomicAdd(addresses_[i]);
      atomicAddFloat(addresses_[i], values_[i]);
    }
    filled_ = 0;
  }
  const DirtyTiles &sums_;
  float *addresses_[kBatch];
  float values_[kBatch];
  uint32_t filled_ = 0;
};

} // namespace ek
