// The frames an ekrender run renders: a range of frame numbers split into chunks for a render farm,
// each task taking one chunk, its index given or read from the farm's environment.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ekrender {

struct FrameRange {
  int start = 1, end = 1, step = 1;
};

// The frames of the range, in order.
std::vector<int> rangeFrames(const FrameRange &range);

// Chunk `index` of `count` over `size` items: the half-open span [first, last) of contiguous runs
// whose sizes differ by at most one.
struct Span {
  size_t first, last;
};
Span chunkOf(size_t size, int index, int count);

// The chunk index a farm gives this task: Slurm's array task id (counted from the array's first
// id) or a Kubernetes indexed job's completion index. False with a message when neither is set.
bool chunkFromEnvironment(int &index, std::string &error);

} // namespace ekrender
