#include "frame_range.h"

#include <cstdlib>

namespace ekrender {

namespace {

bool environmentNumber(const char *name, long long &value) {
  const char *text = std::getenv(name);
  if (!text || !*text)
    return false;
  char *end = nullptr;
  value = std::strtoll(text, &end, 10);
  return *end == '\0';
}

} // namespace

std::vector<int> rangeFrames(const FrameRange &range) {
  std::vector<int> frames;
  for (long long frame = range.start; frame <= range.end; frame += range.step)
    frames.push_back(int(frame));
  return frames;
}

Span chunkOf(size_t size, int index, int count) {
  return {size * size_t(index) / size_t(count), size * size_t(index + 1) / size_t(count)};
}

bool chunkFromEnvironment(int &index, std::string &error) {
  long long id = 0, first = 0;
  if (environmentNumber("SLURM_ARRAY_TASK_ID", id)) {
    if (environmentNumber("SLURM_ARRAY_TASK_MIN", first))
      id -= first;
  } else if (!environmentNumber("JOB_COMPLETION_INDEX", id)) {
    error = "--chunk env: neither SLURM_ARRAY_TASK_ID nor JOB_COMPLETION_INDEX holds a number";
    return false;
  }
  if (id < 0 || id > 1000000) {
    error = "--chunk env: the farm's task index " + std::to_string(id) + " is out of range";
    return false;
  }
  index = int(id);
  return true;
}

} // namespace ekrender
